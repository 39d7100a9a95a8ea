/* Ids of the export options dialog template, shared by the resource script
   and the code. Plain defines only: the resource compiler reads this file. */
#ifndef ASE_RESOURCES_OPTIONS_DIALOG_H
#define ASE_RESOURCES_OPTIONS_DIALOG_H

#define IDD_EXPORT_OPTIONS 106

#define IDC_USE_FULL_TEXTURE_PATH 1001
#define IDC_EXPORT_TEXTURE_COORDS 1002
#define IDC_EXPORT_VERTEX_NORMALS 1003
#define IDC_EXPORT_MATERIALS 1004
#define IDC_EXPORT_VERTEX_COLORS 1005
#define IDC_USE_MULTI_SUB_MATERIALS 1006
#define IDC_EXPORT_MULTIPLE_UV_SETS 1007
#define IDC_EXPORT_AS_SINGLE_OBJECT 1008
#define IDC_SPLIT_VERTICES_PER_UV 1009
#define IDC_USE_FACE_NORMALS 1010
#define IDC_SMOOTHING_MODE 1011
#define IDC_SMOOTHING_ANGLE 1013

#ifdef __cplusplus
namespace platform {
struct DialogTemplate;
}
/* The same template for the POSIX stand-in of the dialog. */
const platform::DialogTemplate& ExportOptionsDialogTemplate();
#endif

#endif
