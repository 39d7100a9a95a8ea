// The export options: their process-wide record and the options dialog,
// which fills its controls from the record and reads them back on OK. The
// dialog drives its controls only through the dialog seam, so the same
// procedure runs in the real dialog and in the POSIX stand-in.
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "export/export.h"
#include "platform/dialog.h"
#include "resources/options_dialog.h"

namespace {

ExportOptions gExportOptions;

enum : int { kAngleTextUnits = 256, kAngleReadUnits = 128 };
constexpr float kDefaultSmoothingAngle = 35.0f;
constexpr float kMaxSmoothingAngle = 180.0f;

// Check box ids with their fields, in the order OK reads them.
struct CheckBoxField {
    int id;
    int ExportOptions::*field;
};

constexpr CheckBoxField kCheckBoxes[] = {
    {IDC_EXPORT_MATERIALS, &ExportOptions::exportMaterials},
    {IDC_EXPORT_TEXTURE_COORDS, &ExportOptions::exportTextureCoords},
    {IDC_EXPORT_VERTEX_NORMALS, &ExportOptions::exportVertexNormals},
    {IDC_EXPORT_VERTEX_COLORS, &ExportOptions::exportVertexColors},
    {IDC_EXPORT_MULTIPLE_UV_SETS, &ExportOptions::exportMultipleUvSets},
    {IDC_EXPORT_AS_SINGLE_OBJECT, &ExportOptions::exportAsSingleObject},
    {IDC_USE_FACE_NORMALS, &ExportOptions::useFaceNormals},
    {IDC_SPLIT_VERTICES_PER_UV, &ExportOptions::splitVerticesPerUv},
    {IDC_USE_MULTI_SUB_MATERIALS, &ExportOptions::useMultiSubObjectMaterials},
    {IDC_USE_FULL_TEXTURE_PATH, &ExportOptions::useFullTexturePath},
};

// The smoothing list, in SmoothingMode order.
const char16_t* const kSmoothingModeTexts[] = {u"All the same", u"Per group", u"Per angle", u"From scene"};

unsigned LowWord(uintptr_t value) {
    return static_cast<unsigned>(value & 0xFFFFu);
}

unsigned HighWord(uintptr_t value) {
    return static_cast<unsigned>((value >> 16) & 0xFFFFu);
}

bool IsWideSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

char16_t LowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

// True when `text` starts with the lower-case ASCII word `word`, in any case.
bool StartsWithWord(const char16_t* text, const char* word) {
    for (; *word != '\0'; ++text, ++word) {
        if (LowerAscii(*text) != static_cast<char16_t>(*word)) return false;
    }
    return true;
}

// "%.3f" in the C locale's form.
void FormatAngle(float angle, char16_t* out, int capacity) {
    char text[64];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, static_cast<double>(angle), std::chars_format::fixed, 3);
    int n = 0;
    for (const char* p = text; p < r.ptr && n + 1 < capacity; ++p) out[n++] = static_cast<char16_t>(*p);
    out[n] = 0;
}

// The angle edit takes input only in "Per angle" mode.
void UpdateAngleControlState(platform::DialogWindow* dialog) {
    platform::EnableWindow(platform::GetDialogItem(dialog, IDC_SMOOTHING_ANGLE),
                           gExportOptions.smoothingMode == SmoothPerAngle);
}

void FillControls(platform::DialogWindow* dialog) {
    char16_t angle[kAngleTextUnits] = {};
    FormatAngle(gExportOptions.smoothingAngle, angle, kAngleTextUnits);
    platform::SetDialogItemText(dialog, IDC_SMOOTHING_ANGLE, angle);

    if (platform::GetDialogItem(dialog, IDC_SMOOTHING_MODE) == nullptr) return;
    platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboResetContent, 0, 0);
    for (const char16_t* text : kSmoothingModeTexts) {
        platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboAddString, 0,
                                        reinterpret_cast<intptr_t>(text));
    }
    platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboSetCurSel,
                                    static_cast<uintptr_t>(gExportOptions.smoothingMode), 0);
    UpdateAngleControlState(dialog);
    for (const CheckBoxField& box : kCheckBoxes) {
        platform::SendDialogItemMessage(dialog, box.id, platform::kButtonSetCheck,
                                        static_cast<uintptr_t>(gExportOptions.*box.field), 0);
    }
}

// Reads edit 1013 into smoothingAngle: empty gives the default, anything
// else the leading number, kept within 0..180. A text that reads as NaN has
// no angle in it and gives 0, as text without a number does.
void ReadAngle(platform::DialogWindow* dialog) {
    char16_t text[kAngleReadUnits] = {};
    platform::GetDialogItemText(dialog, IDC_SMOOTHING_ANGLE, text, kAngleReadUnits);
    if (text[0] == 0) {
        gExportOptions.smoothingAngle = kDefaultSmoothingAngle;
        return;
    }
    const double value = WideTextToDouble(text);
    if (std::isnan(value)) {
        gExportOptions.smoothingAngle = 0.0f;
        return;
    }
    // Narrowed without leaving the float range, which has infinities for
    // the values beyond it.
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    const float v = value > kFloatMax    ? std::numeric_limits<float>::infinity()
                    : value < -kFloatMax ? -std::numeric_limits<float>::infinity()
                                         : static_cast<float>(value);
    gExportOptions.smoothingAngle = v < 0.0f ? 0.0f : (v > kMaxSmoothingAngle ? kMaxSmoothingAngle : v);
}

void ReadCheckBoxes(platform::DialogWindow* dialog) {
    for (const CheckBoxField& box : kCheckBoxes) {
        gExportOptions.*box.field =
            static_cast<int>(platform::SendDialogItemMessage(dialog, box.id, platform::kButtonGetCheck, 0, 0));
    }
}

}  // namespace

ExportOptions& TheExportOptions() {
    return gExportOptions;
}

double WideTextToDouble(const char16_t* text) {
    if (text == nullptr) return 0.0;
    const char16_t* p = text;
    while (IsWideSpace(*p)) ++p;
    bool negative = false;
    if (*p == u'+' || *p == u'-') negative = *p++ == u'-';

    double magnitude = 0.0;
    if (StartsWithWord(p, "inf")) {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (StartsWithWord(p, "nan")) {
        magnitude = std::numeric_limits<double>::quiet_NaN();
    } else {
        // Collects the number as ASCII for from_chars, which rounds correctly
        // and knows no locale.
        std::string number;
        long long pointShift = 0;  // decimal exponent of the first digit, for overflow
        bool seenDigit = false;
        bool seenNonZero = false;
        for (; *p >= u'0' && *p <= u'9'; ++p) {
            number += static_cast<char>(*p);
            seenDigit = true;
            if (*p != u'0') seenNonZero = true;
            if (seenNonZero) ++pointShift;
        }
        if (*p == u'.') {
            number += '.';
            for (++p; *p >= u'0' && *p <= u'9'; ++p) {
                number += static_cast<char>(*p);
                seenDigit = true;
                if (!seenNonZero && *p == u'0') --pointShift;
                if (*p != u'0') seenNonZero = true;
            }
        }
        if (!seenDigit) return 0.0;
        long long exponent = 0;
        if (*p == u'e' || *p == u'E') {
            const char16_t* q = p + 1;
            bool negativeExponent = false;
            if (*q == u'+' || *q == u'-') negativeExponent = *q++ == u'-';
            if (*q >= u'0' && *q <= u'9') {
                number += 'e';
                if (negativeExponent) number += '-';
                for (; *q >= u'0' && *q <= u'9'; ++q) {
                    number += static_cast<char>(*q);
                    if (exponent < 100000000) exponent = exponent * 10 + (*q - u'0');
                }
                if (negativeExponent) exponent = -exponent;
            }
        }
        const std::from_chars_result r = std::from_chars(number.data(), number.data() + number.size(), magnitude);
        if (r.ec == std::errc::result_out_of_range) {
            // Overflow gives infinity (HUGE_VAL), underflow 0.
            magnitude = seenNonZero && pointShift + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        } else if (r.ec != std::errc()) {
            magnitude = 0.0;
        }
    }
    return negative ? -magnitude : magnitude;
}

int CenterWindowOnScreen(platform::DialogWindow* window, platform::DialogWindow* reference) {
    if (window == nullptr || reference == nullptr) return 0;
    platform::WindowRect own{};
    platform::WindowRect ref{};
    platform::GetWindowRect(window, &own);
    platform::GetWindowRect(reference, &ref);
    const long w = own.right - own.left;
    const long h = own.bottom - own.top;
    int screenWidth = 0;
    int screenHeight = 0;
    platform::GetScreenSize(window, &screenWidth, &screenHeight);

    long x = (ref.right - ref.left - w) / 2 + ref.left;
    if (x < 0)
        x = 0;
    else if (x + w > screenWidth)
        x = screenWidth - w;
    long y = (ref.bottom - ref.top - h) / 2 + ref.top;
    if (y < 0)
        y = 0;
    else if (y + h > screenHeight)
        y = screenHeight - h;
    return platform::MoveWindowTo(window, static_cast<int>(x), static_cast<int>(y));
}

intptr_t ExportOptionsDialog(platform::DialogWindow* dialog, unsigned message, uintptr_t wParam, intptr_t /*lParam*/) {
    if (message == platform::kMsgInitDialog) {
        FillControls(dialog);
        CenterWindowOnScreen(dialog, platform::GetDesktopWindow());
        return 1;
    }
    if (message != platform::kMsgCommand) return 0;
    switch (LowWord(wParam)) {
        case platform::kIdOk:
            ReadAngle(dialog);
            ReadCheckBoxes(dialog);
            platform::EndDialog(dialog, platform::kIdOk);
            return 1;
        case platform::kIdCancel:
            platform::EndDialog(dialog, platform::kIdCancel);
            return 1;
        case IDC_SMOOTHING_MODE: {
            if (HighWord(wParam) != platform::kComboSelChange) return 0;
            const intptr_t selection =
                platform::SendDialogItemMessage(dialog, IDC_SMOOTHING_MODE, platform::kComboGetCurSel, 0, 0);
            if (selection == platform::kComboError) return 0;
            // Stored at once, so a later Cancel keeps it.
            gExportOptions.smoothingMode = static_cast<int>(selection);
            UpdateAngleControlState(dialog);
            return 0;
        }
        default:
            return 0;
    }
}
