// asehost's batch runs: the plan (inputs walked, outputs named, clashes
// refused), the children that carry it out, and one handler per command.
// See batch.h.
#include "host/tool/batch.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <thread>

#include <nlohmann/json.hpp>

#include "host/store/text.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace asehost {

namespace {

constexpr std::string_view kCountsPrefix = "asehost-counts ";

// `path` made absolute against the current folder (unchanged if that
// does not fit).
std::u16string Absolute(const std::u16string& path) {
    std::vector<char16_t> buffer(4096);
    if (!platform::AbsolutePath(path.c_str(), buffer.data(), buffer.size())) return path;
    return std::u16string(buffer.data());
}

std::u16string Joined(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty()) return name;
    const char16_t last = folder.back();
    return last == u'/' || last == u'\\' ? folder + name : folder + u"/" + name;
}

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool EndsInAse(const std::u16string& name) {
    if (name.size() < 4) return false;
    std::u16string tail = name.substr(name.size() - 4);
    for (char16_t& c : tail) c = FoldAscii(c);
    return tail == u".ase";
}

// Appends the .ase files below `folder` to `files`, depth first, each
// folder's entries in sorted order so that runs repeat.
bool Walk(const std::u16string& folder, const std::u16string& relative, const std::u16string& skipFolder,
          std::vector<BatchFile>& files, std::string& error) {
    std::vector<platform::FolderEntry> entries;
    std::string reason;
    if (!platform::ListFolder(folder, entries, reason)) {
        error = "cannot read the folder \"" + Utf16ToUtf8(folder) + "\": " + reason;
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const platform::FolderEntry& a, const platform::FolderEntry& b) { return a.name < b.name; });
    for (const platform::FolderEntry& entry : entries) {
        const std::u16string path = Joined(folder, entry.name);
        const std::u16string name = relative.empty() ? entry.name : relative + u"/" + entry.name;
        if (entry.folder) {
            // The outputs' own folder holds no inputs of this run.
            if (!skipFolder.empty() && platform::IsSameFile(path.c_str(), skipFolder.c_str())) continue;
            if (!Walk(path, name, skipFolder, files, error)) return false;
        } else if (entry.file && EndsInAse(entry.name)) {
            files.push_back({path, Utf16ToUtf8(path), name});
        }
    }
    return true;
}

// The last nonempty line of a child's standard error without "asehost: ".
std::string LastMessage(const std::string& errors) {
    std::string_view text = errors;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const size_t start = text.find_last_of('\n');
    std::string_view line = start == std::string_view::npos ? text : text.substr(start + 1);
    if (line.substr(0, 9) == "asehost: ") line.remove_prefix(9);
    return std::string(line);
}

// What one child left: its exit code and output, or why it did not start.
struct ChildResult {
    int exitCode = 1;
    std::string output;
    std::string errors;
    int64_t counts[3] = {0, 0, 0};
    bool counted = false;
};

// Runs `commands` (each asehost's arguments after the program), at most
// `jobs` at once, and calls `report` for each in order as soon as it and
// all before it have ended; a progress line on standard error, when that
// is a terminal, between reports. A cancelled child (exit code 2) starts
// no more. Returns how many were reported.
size_t RunChildren(const std::vector<std::vector<std::u16string>>& commands, int jobs,
                   const std::function<void(size_t, ChildResult&)>& report) {
    std::vector<char16_t> exe(4096);
    const bool haveExe = platform::ExecutablePath(exe.data(), exe.size());
    const bool progress = platform::StandardErrorIsTerminal();
    std::vector<std::optional<ChildResult>> results(commands.size());
    std::vector<platform::ChildProcess> running(static_cast<size_t>(std::clamp(jobs, 1, 64)));
    std::vector<size_t> runningIndex(running.size(), 0);
    size_t next = 0, reported = 0, ended = 0;
    bool cancelled = false;

    auto flushReady = [&] {
        while (reported < commands.size() && results[reported].has_value()) {
            if (progress) std::cerr << "\r\033[K" << std::flush;
            report(reported, *results[reported]);
            results[reported].reset();
            ++reported;
        }
        if (progress && reported < commands.size() && !cancelled) {
            std::cerr << "\rasehost: " << ended << " of " << commands.size() << " files done" << std::flush;
        }
    };

    for (;;) {
        for (size_t slot = 0; slot < running.size() && next < commands.size() && !cancelled; ++slot) {
            if (running[slot].running) continue;
            std::vector<std::u16string> arguments = commands[next];
            arguments.insert(arguments.begin(), std::u16string(exe.data()));
            std::string error = "cannot find asehost's own path";
            if (haveExe && platform::StartProcess(arguments, running[slot], error)) {
                runningIndex[slot] = next++;
                continue;
            }
            ChildResult failed;
            failed.errors = "asehost: cannot start asehost: " + error + "\n";
            results[next++] = std::move(failed);
            ++ended;
        }
        flushReady();
        const size_t slot = platform::WaitForAnyProcess(running);
        if (slot == SIZE_MAX) break;
        ChildResult result;
        result.exitCode = running[slot].exitCode;
        platform::TakeProcessOutput(running[slot], result.output, result.errors);
        result.counted = TakeCountsLine(result.output, result.counts);
        cancelled = cancelled || result.exitCode == 2;
        results[runningIndex[slot]] = std::move(result);
        ++ended;
    }
    flushReady();
    if (progress) std::cerr << "\r\033[K" << std::flush;
    return reported;
}

// What the convert and import handlers share: the plan, the folders, the
// children, the lines and the summary. `command` and `extension` are the
// child's command ("convert") and the outputs' extension (".ase").
int RunBatchWithOutputs(const BatchRequest& request, const std::u16string& command, const std::u16string& extension,
                        const std::function<std::vector<std::u16string>(const std::u16string&, const std::u16string&)>& childArguments) {
    const std::u16string outputDir = Absolute(ArgumentToWide(request.outputDir));
    const platform::PathKind kind = platform::KindOfPath(outputDir.c_str());
    if (kind != platform::PathKind::kNone && kind != platform::PathKind::kFolder) {
        std::cerr << "asehost: the output folder \"" << request.outputDir << "\" is not a folder\n";
        return 1;
    }
    std::vector<BatchFile> files;
    std::string error;
    if (!CollectBatchFiles(request.inputs, outputDir, files, error)) {
        std::cerr << "asehost: " << error << "\n";
        return 1;
    }
    if (files.empty()) {
        std::cerr << "asehost: no .ase file in the inputs\n";
        return 1;
    }
    std::vector<std::u16string> names;
    for (const BatchFile& file : files) names.push_back(OutputName(file.relative, extension));
    size_t first = 0, second = 0;
    if (FindOutputClash(names, first, second)) {
        std::cerr << "asehost: \"" << files[first].display << "\" and \"" << files[second].display << "\" would both be written to \""
                  << Utf16ToUtf8(names[second]) << "\" in the output folder; give them separate runs\n";
        return 1;
    }
    std::vector<std::u16string> outputs, inputs;
    for (size_t k = 0; k < files.size(); ++k) {
        outputs.push_back(Joined(outputDir, names[k]));
        inputs.push_back(Absolute(files[k].path));
    }
    std::vector<std::u16string> sortedInputs = inputs;
    std::sort(sortedInputs.begin(), sortedInputs.end());
    for (size_t k = 0; k < files.size(); ++k) {
        const bool isInput = std::binary_search(sortedInputs.begin(), sortedInputs.end(), outputs[k]) ||
                             platform::IsSameFile(outputs[k].c_str(), inputs[k].c_str());
        if (isInput) {
            std::cerr << "asehost: the output \"" << Utf16ToUtf8(outputs[k]) << "\" would be an input; name another output folder\n";
            return 1;
        }
    }

    // The output folder and every folder the mirrored names need, parents
    // first (a prefix sorts before what extends it).
    std::vector<std::u16string> folders{outputDir};
    for (const std::u16string& name : names) {
        for (size_t slash = name.find(u'/'); slash != std::u16string::npos; slash = name.find(u'/', slash + 1)) {
            folders.push_back(Joined(outputDir, name.substr(0, slash)));
        }
    }
    std::sort(folders.begin() + 1, folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const std::u16string& folder : folders) {
        if (!platform::MakeFolder(folder, error)) {
            std::cerr << "asehost: cannot make the folder \"" << Utf16ToUtf8(folder) << "\": " << error << "\n";
            return 1;
        }
    }

    std::vector<std::vector<std::u16string>> commands;
    for (size_t k = 0; k < files.size(); ++k) {
        std::vector<std::u16string> arguments{command};
        arguments.insert(arguments.end(), request.childOptions.begin(), request.childOptions.end());
        const std::vector<std::u16string> own = childArguments(files[k].path, outputs[k]);
        arguments.insert(arguments.end(), own.begin(), own.end());
        commands.push_back(std::move(arguments));
    }

    int exitCode = 0;
    int64_t objects = 0, faces = 0, failures = 0;
    const size_t done = RunChildren(commands, request.jobs, [&](size_t k, ChildResult& result) {
        const std::string output = request.outputDir + "/" + Utf16ToUtf8(names[k]);
        if (result.exitCode == 0) {
            objects += result.counts[0];
            faces += result.counts[1];
            std::cout << files[k].display << " -> " << output << ": " << result.counts[0] << (result.counts[0] == 1 ? " object, " : " objects, ")
                      << result.counts[1] << (result.counts[1] == 1 ? " face\n" : " faces\n");
        } else {
            ++failures;
            std::cout << files[k].display << ": failed: " << LastMessage(result.errors) << "\n";
        }
        std::cout.flush();
        std::cerr << result.errors << std::flush;
        exitCode = result.exitCode == 2 || exitCode == 2 ? 2 : WorseExitCode(exitCode, result.exitCode);
    });
    std::cout << "summary: " << done << (done == 1 ? " file, " : " files, ") << objects << (objects == 1 ? " object, " : " objects, ")
              << faces << (faces == 1 ? " face, " : " faces, ") << failures << (failures == 1 ? " failure" : " failures");
    if (done < files.size()) std::cout << "; cancelled, " << files.size() - done << " not run";
    std::cout << "\n";
    return exitCode;
}

}  // namespace

std::string CountsLine(int64_t first, int64_t second, int64_t third) {
    return std::string(kCountsPrefix) + std::to_string(first) + " " + std::to_string(second) + " " + std::to_string(third) + "\n";
}

bool TakeCountsLine(std::string& output, int64_t counts[3]) {
    counts[0] = counts[1] = counts[2] = 0;
    size_t end = output.size();
    if (end > 0 && output[end - 1] == '\n') --end;
    if (end > 0 && output[end - 1] == '\r') --end;
    const size_t start = output.rfind('\n', end == 0 ? 0 : end - 1);
    const size_t lineStart = start == std::string::npos ? 0 : start + 1;
    if (output.compare(lineStart, kCountsPrefix.size(), kCountsPrefix) != 0) return false;
    int64_t values[3] = {0, 0, 0};
    const char* cursor = output.data() + lineStart + kCountsPrefix.size();
    const char* last = output.data() + output.size();
    for (int64_t& value : values) {
        while (cursor < last && *cursor == ' ') ++cursor;
        const auto parsed = std::from_chars(cursor, last, value);
        if (parsed.ec != std::errc()) return false;
        cursor = parsed.ptr;
    }
    std::copy(values, values + 3, counts);
    output.erase(lineStart);
    return true;
}

int WorseExitCode(int a, int b) {
    auto rank = [](int code) {
        switch (code) {
            case 0: return 0;
            case 4: return 1;
            case 3: return 2;
            default: return 3;
        }
    };
    const int worse = rank(a) >= rank(b) ? a : b;
    return rank(worse) == 3 ? 1 : worse;
}

bool CollectBatchFiles(const std::vector<std::string>& arguments, const std::u16string& skipFolder, std::vector<BatchFile>& files,
                       std::string& error) {
    for (const std::string& argument : arguments) {
        for (const std::u16string& path : platform::ExpandWildcards(ArgumentToWide(argument))) {
            if (platform::KindOfPath(path.c_str()) == platform::PathKind::kFolder) {
                if (!Walk(path, std::u16string(), skipFolder, files, error)) return false;
                continue;
            }
            // Anything else is a file of the run: one that cannot be read
            // fails alone, with the child's reason.
            const size_t slash = path.find_last_of(u"/\\");
            const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
            files.push_back({path, Utf16ToUtf8(path), name});
        }
    }
    return true;
}

std::u16string OutputName(const std::u16string& relative, const std::u16string& extension) {
    if (extension == u".ase" && EndsInAse(relative)) return relative;
    const size_t slash = relative.find_last_of(u'/');
    const size_t dot = relative.find_last_of(u'.');
    // A leading dot starts a name, not an extension.
    const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
    const bool hasExtension = dot != std::u16string::npos && dot > nameStart;
    return (hasExtension ? relative.substr(0, dot) : relative) + extension;
}

bool FindOutputClash(const std::vector<std::u16string>& outputs, size_t& first, size_t& second) {
    std::vector<std::pair<std::u16string, size_t>> folded;
    folded.reserve(outputs.size());
    for (size_t k = 0; k < outputs.size(); ++k) {
        std::u16string name = outputs[k];
        for (char16_t& c : name) c = FoldAscii(c == u'\\' ? u'/' : c);
        folded.emplace_back(std::move(name), k);
    }
    std::sort(folded.begin(), folded.end());
    for (size_t k = 1; k < folded.size(); ++k) {
        if (folded[k].first != folded[k - 1].first) continue;
        first = folded[k - 1].second;
        second = folded[k].second;
        return true;
    }
    return false;
}

int RunBatchConvert(const BatchRequest& request) {
    return RunBatchWithOutputs(request, u"convert", u".ase", [](const std::u16string& in, const std::u16string& out) {
        return std::vector<std::u16string>{u"--", in, out};
    });
}

int RunBatchImport(const BatchRequest& request) {
    return RunBatchWithOutputs(request, u"import", u".json", [](const std::u16string& in, const std::u16string& out) {
        return std::vector<std::u16string>{u"--json", u"-o", out, u"--", in};
    });
}

namespace {

// Runs `work` on the files numbered 0..count-1 on `jobs` threads and calls
// `report` on this thread for each in order, as soon as it and all before
// it are done; a progress line on standard error, when that is a terminal,
// between reports. A `work` that throws gives an unread file with the
// reason. Returns how many were reported (all of them).
size_t RunOnThreads(size_t count, int jobs, const std::function<CheckedFile(size_t)>& work,
                    const std::function<void(size_t, CheckedFile&)>& report) {
    const bool progress = platform::StandardErrorIsTerminal();
    std::vector<std::optional<CheckedFile>> results(count);
    std::mutex mutex;
    std::condition_variable doneOne;
    size_t next = 0, ended = 0;

    auto worker = [&] {
        for (;;) {
            size_t k;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (next == count) return;
                k = next++;
            }
            CheckedFile result;
            try {
                result = work(k);
            } catch (const std::bad_alloc&) {
                result = CheckedFile{};
                result.reason = "out of memory";
            } catch (...) {
                result = CheckedFile{};
                result.reason = "stopped by an unexpected error";
            }
            const std::lock_guard<std::mutex> lock(mutex);
            results[k] = std::move(result);
            ++ended;
            doneOne.notify_one();
        }
    };
    std::vector<std::thread> threads;
    const size_t threadCount = std::min(static_cast<size_t>(std::clamp(jobs, 1, 64)), count);
    for (size_t t = 0; t < threadCount; ++t) threads.emplace_back(worker);

    size_t reported = 0;
    std::unique_lock<std::mutex> lock(mutex);
    while (reported < count) {
        doneOne.wait(lock, [&] { return results[reported].has_value(); });
        while (reported < count && results[reported].has_value()) {
            CheckedFile result = std::move(*results[reported]);
            results[reported].reset();
            const size_t endedNow = ended;
            // Printing needs no lock: the workers touch only other entries.
            lock.unlock();
            if (progress) std::cerr << "\r\033[K" << std::flush;
            report(reported, result);
            ++reported;
            if (progress && reported < count) std::cerr << "\rasehost: " << endedNow << " of " << count << " files done" << std::flush;
            lock.lock();
        }
    }
    lock.unlock();
    for (std::thread& thread : threads) thread.join();
    if (progress) std::cerr << "\r\033[K" << std::flush;
    return reported;
}

}  // namespace

int RunBatchCheck(const BatchRequest& request, const CheckOneFile& check) {
    std::vector<BatchFile> files;
    std::string error;
    if (!CollectBatchFiles(request.inputs, std::u16string(), files, error)) {
        std::cerr << "asehost: " << error << "\n";
        return 1;
    }
    // Absolute before any file is read: the import moves the current folder.
    std::vector<std::u16string> paths;
    for (const BatchFile& file : files) paths.push_back(Absolute(file.path));
    int exitCode = 0;
    int64_t totals[3] = {0, 0, 0};
    int64_t unreadable = 0;
    if (request.json) std::cout << "{\n\"files\": [";
    const size_t done = RunOnThreads(
        files.size(), request.jobs, [&](size_t k) { return check(paths[k], files[k].display); },
        [&](size_t k, CheckedFile& result) {
            if (!result.opened) {
                ++unreadable;
                if (request.json) {
                    std::string entry = UnreadableCheckJson(files[k].display, result.reason);
                    std::cout << (k > 0 ? ",\n" : "\n") << entry.substr(0, entry.size() - 1);
                } else {
                    std::cout << files[k].display << ": cannot be read: " << result.reason << "\n";
                }
                exitCode = WorseExitCode(exitCode, 1);
            } else {
                for (int n = 0; n < 3; ++n) totals[n] += result.counts[n];
                while (!result.output.empty() && request.json && result.output.back() == '\n') result.output.pop_back();
                std::cout << (request.json ? (k > 0 ? ",\n" : "\n") : "") << result.output;
                exitCode = WorseExitCode(exitCode, result.exitCode);
            }
            std::cout.flush();
        });
    if (request.json) {
        const nlohmann::ordered_json count = {{"files", done}, {"errors", totals[0]}, {"warnings", totals[1]},
                                              {"notes", totals[2]}, {"unreadable", unreadable}};
        std::cout << "\n],\n\"count\": " << count.dump() << "\n}\n";
    } else {
        auto plural = [](int64_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); };
        std::cout << "total: " << plural(static_cast<int64_t>(done), "file", "files") << ", " << plural(totals[0], "error", "errors") << ", "
                  << plural(totals[1], "warning", "warnings") << ", " << plural(totals[2], "note", "notes") << ", "
                  << unreadable << " unreadable\n";
    }
    return exitCode;
}

std::string UnreadableCheckJson(const std::string& file, const std::string& reason) {
    const nlohmann::ordered_json json = {{"file", file}, {"opened", false}, {"error", reason}};
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace asehost
