// Replacing a file whole: what the target is survives the replacement
// (links, mode, owner, extended attributes), a target the user could not
// write is refused, and a failure or an interrupt leaves the target as it was
// with nothing beside it. The POSIX file-system cases run natively only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/replace.h"
#include "tests/platform/on_windows.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Replaces `target` with `text`, the test seam failing `fault`. Returns
// the replacement's error (0 on success).
int Replace(const fs::path& target, const std::string& text, platform::ReplaceFault fault = {},
            platform::ReplaceMethod* method = nullptr) {
    platform::FileReplacement replacement;
    replacement.fault = fault;
    if (!platform::BeginFileReplacement(target.u16string().c_str(), "wb", replacement)) return replacement.error;
    if (method != nullptr) *method = replacement.method;
    std::fwrite(text.data(), 1, text.size(), replacement.stream);
    return platform::CommitFileReplacement(replacement) ? 0 : replacement.error;
}

class Replacement : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("asefilter-replace-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                               "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(folder_, fs::perms::all, ignored);
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

TEST_F(Replacement, ANewOrExistingFileGetsTheWholeTextAndNothingIsLeftBeside) {
    const fs::path target = folder_ / "out.ase";
    EXPECT_EQ(Replace(target, "first\n"), 0);
    EXPECT_EQ(Read(target), "first\n");
    EXPECT_EQ(Replace(target, "second, longer\n"), 0);
    EXPECT_EQ(Read(target), "second, longer\n");
    EXPECT_EQ(Names(folder_), std::vector<std::string>{"out.ase"});
}

TEST_F(Replacement, AFailingStepLeavesTheTargetAndNothingBeside) {
    const fs::path target = folder_ / "out.ase";
    for (platform::ReplaceStep step : {platform::ReplaceStep::kBegin, platform::ReplaceStep::kSync, platform::ReplaceStep::kClose,
                                       platform::ReplaceStep::kCommit}) {
        SCOPED_TRACE(static_cast<int>(step));
        Write(target, "old\n");
        EXPECT_EQ(Replace(target, "new\n", {step, ENOSPC}), ENOSPC);
        EXPECT_EQ(Read(target), "old\n");
        EXPECT_EQ(Names(folder_), std::vector<std::string>{"out.ase"});
    }
    // A folder is no file to replace, and a missing folder none to make.
    fs::create_directory(folder_ / "dir.ase");
    EXPECT_EQ(Replace(folder_ / "dir.ase", "x"), EISDIR);
    EXPECT_EQ(Replace(folder_ / "missing" / "out.ase", "x"), ENOENT);
    EXPECT_EQ(std::u16string(platform::FileErrorReason(ENOSPC)), u"no space left on the device");
}

#ifndef _WIN32

mode_t ModeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// Runs `body` as an ordinary user (uid and gid 65534) in a child process
// when the tests run as root, else as this user; returns its exit code.
int AsOrdinaryUser(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(Replacement, ALinkedTargetIsReplacedBehindItsLinks) {
    const fs::path real = folder_ / "real.ase";
    Write(real, "old\n");
    fs::create_symlink("real.ase", folder_ / "link.ase");
    fs::create_hard_link(real, folder_ / "hard.ase");
    EXPECT_EQ(Replace(folder_ / "link.ase", "through the link\n"), 0);
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.ase"));
    EXPECT_EQ(Read(real), "through the link\n");
    // A second name stays the same file: written in place.
    platform::ReplaceMethod method{};
    EXPECT_EQ(Replace(real, "short\n", {}, &method), 0);
    EXPECT_EQ(method, platform::ReplaceMethod::kInPlace);
    EXPECT_EQ(Read(folder_ / "hard.ase"), "short\n");
    EXPECT_EQ(fs::hard_link_count(real), 2u);
    // A dangling link names the file to create.
    fs::create_symlink("made.ase", folder_ / "dangling.ase");
    EXPECT_EQ(Replace(folder_ / "dangling.ase", "made\n"), 0);
    EXPECT_EQ(Read(folder_ / "made.ase"), "made\n");
    EXPECT_TRUE(fs::is_symlink(folder_ / "dangling.ase"));
    EXPECT_EQ(Names(folder_), (std::vector<std::string>{"dangling.ase", "hard.ase", "link.ase", "made.ase", "real.ase"}));
    // A loop of links is no file.
    fs::create_symlink("loop2", folder_ / "loop1");
    fs::create_symlink("loop1", folder_ / "loop2");
    EXPECT_EQ(Replace(folder_ / "loop1", "x"), ELOOP);
}

TEST_F(Replacement, ModeOwnerAndAttributesAreKept) {
    const fs::path target = folder_ / "out.ase";
    for (mode_t mode : {0600, 0640, 0755, 02755}) {
        Write(target, "old\n");
        ::chmod(target.c_str(), mode);
        EXPECT_EQ(Replace(target, "new\n"), 0);
        EXPECT_EQ(ModeOf(target), mode);
    }
    // A new file gets what a plainly created one gets.
    const mode_t mask = ::umask(022);
    EXPECT_EQ(Replace(folder_ / "new.ase", "x"), 0);
    EXPECT_EQ(ModeOf(folder_ / "new.ase"), 0644u);
    ::umask(mask);

    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
        EXPECT_EQ(Replace(target, "for nobody\n"), 0);
        struct stat info {};
        ::stat(target.c_str(), &info);
        EXPECT_EQ(info.st_uid, 65534u);
        EXPECT_EQ(info.st_gid, 65534u);
    }
    if (::setxattr(target.c_str(), "user.origin", "kept", 4, 0) == 0) {
        platform::ReplaceMethod method{};
        EXPECT_EQ(Replace(target, "with attributes\n", {}, &method), 0);
        EXPECT_EQ(method, platform::ReplaceMethod::kInPlace);
        char value[16] = {};
        EXPECT_EQ(::getxattr(target.c_str(), "user.origin", value, sizeof value), 4);
        EXPECT_STREQ(value, "kept");
        EXPECT_EQ(Read(target), "with attributes\n");
    }
}

// What an ordinary user may write in place is what a replacement writes,
// and nothing else.
TEST_F(Replacement, AnOrdinaryUserReplacesWhatTheyCouldWriteAndNothingElse) {
    ::chmod(folder_.c_str(), 0755);
    const fs::path readOnly = folder_ / "read-only.ase";
    Write(readOnly, "keep\n");
    ::chmod(readOnly.c_str(), 0444);
    const fs::path lockedFolder = folder_ / "locked";
    fs::create_directory(lockedFolder);
    const fs::path writable = lockedFolder / "writable.ase";
    Write(writable, "old text that is longer\n");
    ::chmod(writable.c_str(), 0666);
    ::chmod(lockedFolder.c_str(), 0555);
    const fs::path sticky = folder_ / "sticky";
    fs::create_directory(sticky);
    ::chmod(sticky.c_str(), 01777);
    const fs::path others = sticky / "others.ase";
    Write(others, "old\n");
    ::chmod(others.c_str(), 0666);

    EXPECT_EQ(AsOrdinaryUser([&] { return Replace(readOnly, "lost\n"); }), EACCES);
    EXPECT_EQ(Read(readOnly), "keep\n");
    EXPECT_EQ(AsOrdinaryUser([&] {
                  platform::ReplaceMethod method{};
                  const int error = Replace(writable, "new\n", {}, &method);
                  return error != 0 ? error : method == platform::ReplaceMethod::kInPlace ? 0 : 98;
              }),
              0);
    EXPECT_EQ(Read(writable), "new\n");
    EXPECT_EQ(Names(lockedFolder), std::vector<std::string>{"writable.ase"});
    if (::geteuid() == 0) {
        // Another user's file in a sticky folder cannot be renamed over.
        EXPECT_EQ(AsOrdinaryUser([&] { return Replace(others, "written in place\n"); }), 0);
        EXPECT_EQ(Read(others), "written in place\n");
        struct stat info {};
        ::stat(others.c_str(), &info);
        EXPECT_EQ(info.st_uid, 0u);
    }
    ::chmod(lockedFolder.c_str(), 0755);
}

TEST_F(Replacement, AFailedReservationLeavesAnInPlaceTargetUntouched) {
    const fs::path target = folder_ / "target.ase";
    Write(target, "old\n");
    fs::create_hard_link(target, folder_ / "second.ase");
    EXPECT_EQ(Replace(target, std::string(10000, 'x'), {platform::ReplaceStep::kReserve, ENOSPC}), ENOSPC);
    EXPECT_EQ(Read(target), "old\n");
    EXPECT_EQ(Names(folder_), (std::vector<std::string>{"second.ase", "target.ase"}));
}

TEST_F(Replacement, AnInterruptDuringTheWriteLeavesNothing) {
    if (platform::ReplacementNeedsBlockedInterrupts((folder_ / "out.ase").u16string().c_str())) {
        GTEST_SKIP() << "no unnamed temporary files on this file system";
    }
    const fs::path target = folder_ / "out.ase";
    Write(target, "old\n");
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = ::fork();
        if (child == 0) {
            platform::FileReplacement replacement;
            if (!platform::BeginFileReplacement(target.u16string().c_str(), "wb", replacement)) ::_exit(1);
            const std::string block(1 << 20, 'x');
            for (int i = 0; i < 8; ++i) std::fwrite(block.data(), 1, block.size(), replacement.stream);
            std::fflush(replacement.stream);
            ::raise(signal);
            ::_exit(2);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
        EXPECT_EQ(Read(target), "old\n");
        EXPECT_EQ(Names(folder_), std::vector<std::string>{"out.ase"});
    }
    // Blocked interrupts wait for the end of the commit, then act.
    const uint64_t previous = platform::BlockInterrupts();
    ::raise(SIGHUP);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGHUP), 1);
    signal(SIGHUP, SIG_IGN);
    platform::UnblockInterrupts(previous);
    signal(SIGHUP, SIG_DFL);
}

TEST_F(Replacement, ADeviceIsWrittenDirectly) {
    platform::ReplaceMethod method{};
    EXPECT_EQ(Replace("/dev/null", "nothing\n", {}, &method), 0);
    EXPECT_EQ(method, platform::ReplaceMethod::kDirect);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

#endif

}  // namespace
