// The export options dialog template as data, control for control the same
// as options_dialog.rc, for the POSIX stand-in of the dialog.
#include "platform/dialog.h"
#include "resources/options_dialog.h"

namespace {

using platform::ControlKind;
using platform::DialogControl;

constexpr DialogControl kControls[] = {
    {1, ControlKind::DefaultPushButton, u"OK", 140, 10, 50, 14},
    {2, ControlKind::PushButton, u"Cancel", 140, 27, 50, 14},
    {-1, ControlKind::GroupBox, u"Export Options", 5, 5, 125, 70},
    {IDC_EXPORT_MATERIALS, ControlKind::CheckBox, u"Export materials", 15, 20, 95, 8},
    {IDC_EXPORT_TEXTURE_COORDS, ControlKind::CheckBox, u"Export texture coordinates", 15, 30, 95, 8},
    {IDC_EXPORT_VERTEX_NORMALS, ControlKind::CheckBox, u"Export vertex normals", 15, 40, 95, 8},
    {IDC_EXPORT_VERTEX_COLORS, ControlKind::CheckBox, u"Export vertex colors", 15, 50, 95, 8},
    {IDC_EXPORT_MULTIPLE_UV_SETS, ControlKind::CheckBox, u"Export multiple uvsets", 15, 60, 95, 8},
    {-1, ControlKind::GroupBox, u"Smoothing Options", 5, 80, 125, 55},
    {IDC_SMOOTHING_MODE, ControlKind::DropDownList, u"", 15, 95, 105, 85},
    {-1, ControlKind::Static, u"angle:", 15, 116, 20, 8},
    {IDC_SMOOTHING_ANGLE, ControlKind::Edit, u"", 40, 115, 50, 12},
    {-1, ControlKind::GroupBox, u"Misc Options", 5, 140, 125, 70},
    {IDC_EXPORT_AS_SINGLE_OBJECT, ControlKind::CheckBox, u"Export as single object", 15, 155, 90, 8},
    {IDC_USE_FACE_NORMALS, ControlKind::CheckBox, u"Use face normals", 15, 165, 80, 8},
    {IDC_SPLIT_VERTICES_PER_UV, ControlKind::CheckBox, u"Split vertices per UV", 15, 175, 90, 8},
    {IDC_USE_MULTI_SUB_MATERIALS, ControlKind::CheckBox, u"Use multi/sub-object materials", 15, 185, 110, 8},
    {IDC_USE_FULL_TEXTURE_PATH, ControlKind::CheckBox, u"Use full texture filepath", 15, 195, 90, 8},
};

constexpr platform::DialogTemplate kTemplate = {
    IDD_EXPORT_OPTIONS, u"Export ASE File", 197, 215, kControls, static_cast<int>(sizeof kControls / sizeof kControls[0]),
};

}  // namespace

const platform::DialogTemplate& ExportOptionsDialogTemplate() {
    return kTemplate;
}
