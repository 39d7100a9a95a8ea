// The options dialog's controls as command-line options of export and
// convert: check boxes, the smoothing list and the angle as the dialog reads
// them, convert's own defaults, and the options a batch child is given.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "host/store/text.h"
#include "host/tool/tool.h"

namespace asehost {

// The angle the options dialog makes of a typed text: its leading decimal
// number (0 without one, as _wtof reads it) narrowed to a float and held to
// 0..180; an empty text gives 35. `plain` tells whether that is the number
// the text spells.
float DialogAngle(const std::string& text, bool& plain) {
    plain = false;
    if (text.empty()) return 35.0f;
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    bool any = i > digits;
    if (i < text.size() && text[i] == '.') {
        const size_t fraction = ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        any = any || i > fraction;
    }
    if (!any) return 0.0f;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const size_t exponent = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j > exponent) i = j;
    }
    double value = 0.0;
    const char* first = text.data() + start + (text[start] == '+' ? 1 : 0);
    const auto result = std::from_chars(first, text.data() + i, value);
    if (result.ec == std::errc::result_out_of_range) value = text[start] == '-' ? -HUGE_VAL : HUGE_VAL;
    const float narrowed = static_cast<float>(value);
    const float angle = narrowed < 0.0f ? 0.0f : (narrowed > 180.0f ? 180.0f : narrowed);
    plain = i == text.size() && angle == narrowed && result.ec == std::errc();
    return angle;
}

const char* const kExitCodesText =
    "Exit codes: 0 done; 1 the host could not do its part; 2 the export dialog was cancelled; 3 the plug-in reported a failure.\n";

const char* const kSmoothingNames[4] = {"all", "group", "angle", "scene"};

bool HasSecondUvChannel(const HostContext& context) {
    if (context.uvStore == nullptr) return false;
    const HostUvChannel& channel = context.uvStore->channels[1];
    for (int i = 0; channel.uvs != nullptr && i < channel.count; ++i) {
        if (channel.uvs[i].u != 0.0f || channel.uvs[i].v != 0.0f) return true;
    }
    return false;
}

void DialogOptions::Add(CLI::App& command) {
    for (int k = 0; k < 10; ++k) {
        command.add_option(std::string("--") + kCheckBoxes[k].flag, checks[k], "Tick (on) or clear (off) the check box")
            ->check(CLI::IsMember({"on", "off"}))
            ->default_str(kCheckBoxes[k].dialogDefault ? "on" : "off");
    }
    command.add_option("--smoothing", smoothing, "Smoothing list selection (scene: keep the scene's smoothing groups and write normals per group)")
        ->check(CLI::IsMember(std::vector<std::string>(std::begin(kSmoothingNames), std::end(kSmoothingNames))))
        ->default_str("all");
    command.add_option("--angle", angle, "Text typed into the angle edit, used with --smoothing angle (0 to 180 degrees)")->default_str("35.000");
    command.add_flag("--cancel", cancel, "Press Cancel instead of OK");
    command.add_flag("--quiet", quiet, "Do not list what the host or the written file leaves out");
    command.add_flag("--force", force, "Write over the input or to a name that does not end in .ase");
    command.footer(std::string("Defaults shown are the options dialog's state when the plug-in is loaded.\n\n") + kExitCodesText);
}

DialogChoices DialogOptions::Choices(const CLI::App& command) const {
    DialogChoices choices;
    for (int k = 0; k < 10; ++k) {
        if (!checks[k].empty()) choices.checks[k] = checks[k] == "on" ? 1 : 0;
    }
    for (int k = 0; k < static_cast<int>(std::size(kSmoothingNames)); ++k) {
        if (smoothing == kSmoothingNames[k]) choices.smoothing = k;
    }
    if (command.count("--angle") > 0) {
        choices.typeAngle = true;
        choices.angleText = ArgumentToWide(angle);
        bool plain = false;
        const float value = DialogAngle(angle, plain);
        if (!plain) {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(value));
            std::cerr << "asehost: warning: the dialog reads the angle \"" << angle << "\" as " << text << "\n";
        }
        if (smoothing != "angle") std::cerr << "asehost: warning: --angle is used only with --smoothing angle\n";
    }
    choices.cancel = cancel;
    return choices;
}

void DialogOptions::AddConvertDefaults(CLI::App& command) {
    command.add_flag("--dialog-defaults", dialogDefaults,
                     "Start from the dialog's defaults instead of convert's (--smoothing scene, and "
                     "--export-multiple-uvsets=on for a file with a second mapping channel)");
    command.footer(
        "Defaults shown are the options dialog's state when the plug-in is loaded; convert itself, unless "
        "--dialog-defaults is given, uses --smoothing scene and, for a file with a second mapping channel, "
        "--export-multiple-uvsets=on.\n\n" +
        std::string(kExitCodesText));
}

std::vector<std::u16string> DialogOptions::ChildArguments(const CLI::App& command) const {
    std::vector<std::u16string> out;
    auto add = [&out](const std::string& option, const std::string& value) {
        out.push_back(ArgumentToWide(option));
        out.push_back(ArgumentToWide(value));
    };
    for (int k = 0; k < 10; ++k) {
        if (!checks[k].empty()) add(std::string("--") + kCheckBoxes[k].flag, checks[k]);
    }
    if (!smoothing.empty()) add("--smoothing", smoothing);
    if (command.count("--angle") > 0) add("--angle", angle);
    for (const auto& [flag, on] : {std::pair{"--cancel", cancel}, {"--quiet", quiet}, {"--force", force}, {"--dialog-defaults", dialogDefaults}}) {
        if (on) out.push_back(ArgumentToWide(flag));
    }
    return out;
}

void DialogOptions::ApplyConvertDefaults(const HostScene& scene, DialogChoices& choices) const {
    if (dialogDefaults) return;
    if (smoothing.empty()) choices.smoothing = kSceneSmoothing;
    for (int k = 0; k < 10; ++k) {
        if (std::strcmp(kCheckBoxes[k].flag, "export-multiple-uvsets") == 0 && checks[k].empty() &&
            HasSecondUvChannel(*scene.context())) {
            choices.checks[k] = 1;
        }
    }
}

}  // namespace asehost
