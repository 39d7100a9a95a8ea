// Files whose size is not known before they are read, through FilterProc on
// the reference host: a FIFO that a writer thread fills. POSIX only (the
// build adds this file where mkfifo exists).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "host/tool/plugin_loader.h"
#include "host/store/scene.h"
#include "plugin/plugin.h"
#include "tests/job_settings.h"
#include "tests/test_files.h"

namespace {

namespace fs = std::filesystem;

// Writes `text` into the FIFO at `path` once a reader opens it, then closes
// it. Gives up after about ten seconds without a reader, so that a reader
// that never comes cannot hang the test (it then fails on the content).
void FillFifo(const fs::path& path, const std::string& text) {
    int fd = -1;
    for (int attempt = 0; attempt < 1000 && fd < 0; ++attempt) {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;  // the reader went away
        done += static_cast<size_t>(wrote);
    }
    ::close(fd);
}

// FILTER_MSG_IMPORT of the FIFO at `path` while a thread writes `text` into
// it; no block of the import's job outlives it.
int ImportThroughFifo(asehost::HostScene& scene, const fs::path& path, const std::string& text) {
    scene.reset();
    const std::u16string wide = path.u16string();
    scene.setFileName(wide.c_str());
    const JobSettingsScope jobs;
    std::thread writer(FillFifo, path, text);
    const int result = FilterProc(FILTER_MSG_IMPORT, scene.context(), nullptr, nullptr);
    writer.join();
    EXPECT_EQ(jobs.allocations.LiveBlocks(), 0);
    return result;
}

// A pipe reports no size: it is read to its end, and its bytes bound the
// declared counts as a regular file's size does. 4 MB declaring 2,000,000
// faces imports (a size of 0 would allow 64 KiB of records), while 200
// bytes declaring them fail at the count line; a stream marked as UTF-8 is
// converted as a file is.
TEST(ImportUnsizedFiles, AFifoIsReadToItsEndAndItsBytesBoundItsCounts) {
    const fs::path fifo = fs::absolute(fs::path(testing::TempDir()) / "ase_import.fifo");
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << errno;
    const std::string faces = testfiles::ReadFile(testfiles::Data("ase/faults/declared_faces_flood.ase"));
    const std::string padding = "*COMMENT " + std::string(4 * 1024 * 1024, 'x') + "\n";
    asehost::HostScene scene;

    ASSERT_EQ(ImportThroughFifo(scene, fifo, faces + padding), 1) << asehost::ErrorTextOf(*scene.context());
    ASSERT_EQ(scene.context()->faceGroupCount, 1);
    EXPECT_EQ(scene.context()->faceGroups[0].faceCount, 1);

    EXPECT_EQ(ImportThroughFifo(scene, fifo, faces), 0);
    EXPECT_EQ(asehost::ErrorTextOf(*scene.context()).rfind("line 5: *MESH_NUMFACES 2000000 declares more", 0), 0u)
        << asehost::ErrorTextOf(*scene.context());

    const std::string marked = "\xEF\xBB\xBF" + testfiles::ReadFile(testfiles::Data("e2e/materials.ase"));
    ASSERT_EQ(ImportThroughFifo(scene, fifo, marked), 1) << asehost::ErrorTextOf(*scene.context());
    EXPECT_EQ(scene.context()->materialCount, 3);

    EXPECT_EQ(ImportThroughFifo(scene, fifo, ""), 0);
    EXPECT_EQ(asehost::ErrorTextOf(*scene.context()), "No geometry found.");
    fs::remove(fifo);
}

}  // namespace
