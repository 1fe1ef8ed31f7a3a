// A save that fails leaves the previous file byte for byte as it was and no
// temporary file beside it: a full disk, a folder that cannot be written and
// a target that is a directory, for every writer.

#include "imagelib/bitmap.h"
#include "imagelib/image_file.h"
#include "imagelib/metaimage.h"
#include "random_image.h"
#include "../support/child_process.h"
#include "../support/temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every new file is well above this, every old one too.
constexpr rlim_t kDiskRoom = 4096;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::unique_ptr<KVEL::Image> picture() {
    return imagetest::randomImage(KVEL::kGlUnsignedByte, 96, 64, 1, 3, 7, 0, 256);
}
std::unique_ptr<KVEL::Image> volume() {
    return imagetest::randomImage(KVEL::kGlFloat, 32, 24, 4, 1, 8, -1000, 1000);
}

struct Writer {
    const char* name;
    std::vector<const char*> files;  // what it writes into the folder
    // True when the writer reports success.
    std::function<bool(const fs::path& folder)> write;
};

const Writer kWriters[] = {
    {"Bitmap::save", {"out.bmp"},
     [](const fs::path& folder) {
         KVEL::Bitmap bitmap;
         bitmap.createFromBuffer(96, 64, 3, nullptr);
         auto source = picture();
         std::copy_n(static_cast<KVEL::ImageBase<unsigned char>&>(*source).data(), 96 * 64 * 3, bitmap.data());
         return bitmap.save((folder / "out.bmp").c_str()) == 1;
     }},
    {"saveRaw", {"out.raw"},
     [](const fs::path& folder) { return volume()->saveRaw((folder / "out.raw").c_str()) == 0; }},
    {"writeMetaImage", {"out.mhd", "out.raw"},
     [](const fs::path& folder) { return KVEL::writeMetaImage((folder / "out").c_str(), volume().get()) == 0; }},
    {"writeMetaImageFile", {"out.mha"},
     [](const fs::path& folder) {
         return KVEL::writeMetaImageFile((folder / "out.mha").c_str(), volume().get(), true) == 0;
     }},
    {"writeImage .bmp", {"out.bmp"},
     [](const fs::path& folder) { return KVEL::writeImage((folder / "out.bmp").c_str(), picture().get()) == 0; }},
    {"writeImage .mhd", {"out.mhd", "out.raw"},
     [](const fs::path& folder) { return KVEL::writeImage((folder / "out.mhd").c_str(), volume().get()) == 0; }},
};

class FailedSave : public TempDirTest {
protected:
    // The folder the writers write into, holding an old version of each file.
    fs::path folder() const { return dir_ / "shots"; }

    // An empty folder holding nothing but an old version of each file.
    std::map<std::string, std::string> placeOldFiles(const Writer& writer) {
        fs::remove_all(folder());
        fs::create_directory(folder());
        std::map<std::string, std::string> old;
        unsigned seed = 1;
        for (const char* file : writer.files) {
            old[file] = randomBytes(3 * kDiskRoom + seed, seed);
            writeBytes(folder() / file, old[file]);
            ++seed;
        }
        return old;
    }

    std::set<std::string> folderEntries() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder())) names.insert(entry.path().filename().string());
        return names;
    }

    // Every old file as it was, and nothing else in the folder.
    void expectUntouched(const Writer& writer, const std::map<std::string, std::string>& old) {
        std::set<std::string> expected;
        for (const auto& [file, bytes] : old) {
            expected.insert(file);
            EXPECT_TRUE(readBytes(folder() / file) == bytes)
                << writer.name << " changed " << file << ": " << fs::file_size(folder() / file) << " bytes now, "
                << bytes.size() << " before";
        }
        EXPECT_EQ(folderEntries(), expected) << writer.name << " left files behind";
    }
};

TEST_F(FailedSave, AFullDiskKeepsThePreviousFiles) {
    for (const Writer& writer : kWriters) {
        const auto old = placeOldFiles(writer);
        const int status = testsupport::runInChild([&] {
            if (!testsupport::limitFileSize(kDiskRoom)) return testsupport::kConditionUnavailable;
            return writer.write(folder()) ? 0 : 1;
        });
        ASSERT_NE(status, testsupport::kConditionUnavailable);
        EXPECT_EQ(status, 1) << writer.name << " did not report the failed write";
        expectUntouched(writer, old);
    }
}

// A folder closed to writing with files open to it, and an open folder with
// read-only files: neither may be written, in place or by a replacement.
TEST_F(FailedSave, AReadOnlyFolderOrFileKeepsThePreviousFiles) {
    // The unprivileged child must be able to reach the folder.
    fs::permissions(dir_, fs::perms::owner_all | fs::perms::others_exec);
    const auto read = fs::perms::owner_read | fs::perms::others_read;
    const auto write = fs::perms::owner_write | fs::perms::others_write;
    const auto exec = fs::perms::owner_exec | fs::perms::others_exec;
    for (const bool closedFolder : {true, false}) {
        for (const Writer& writer : kWriters) {
            const auto old = placeOldFiles(writer);
            for (const auto& entry : old) fs::permissions(folder() / entry.first, closedFolder ? read | write : read);
            fs::permissions(folder(), closedFolder ? read | exec : read | write | exec);
            const int status = testsupport::runInChild([&] {
                if (!testsupport::becomeUnprivileged()) return testsupport::kConditionUnavailable;
                return writer.write(folder()) ? 0 : 1;
            });
            fs::permissions(folder(), fs::perms::owner_all);
            if (status == testsupport::kConditionUnavailable) GTEST_SKIP() << "cannot drop root's rights here";
            EXPECT_EQ(status, 1) << writer.name << (closedFolder ? " wrote into a closed folder" : " replaced a file")
                                 << " it may not write";
            expectUntouched(writer, old);
        }
    }
}

TEST_F(FailedSave, ADirectoryInPlaceOfAFileStaysAsItWas) {
    for (const Writer& writer : kWriters) {
        // Each file of the writer in turn is a directory; the others are old files.
        for (const char* blocked : writer.files) {
            auto old = placeOldFiles(writer);
            fs::remove(folder() / blocked);
            old.erase(blocked);
            fs::create_directory(folder() / blocked);
            writeBytes(folder() / blocked / "inside", "kept");
            EXPECT_FALSE(writer.write(folder())) << writer.name << " wrote over the directory " << blocked;
            EXPECT_TRUE(fs::is_directory(folder() / blocked));
            EXPECT_EQ(readBytes(folder() / blocked / "inside"), "kept");
            fs::remove_all(folder() / blocked);
            expectUntouched(writer, old);
        }
    }
}

TEST_F(FailedSave, ASuccessfulSaveReplacesTheFilesAndLeavesNothingElse) {
    for (const Writer& writer : kWriters) {
        const auto old = placeOldFiles(writer);
        ASSERT_TRUE(writer.write(folder())) << writer.name;
        std::set<std::string> expected;
        for (const auto& [file, bytes] : old) {
            expected.insert(file);
            EXPECT_NE(readBytes(folder() / file), bytes) << writer.name << " did not replace " << file;
        }
        EXPECT_EQ(folderEntries(), expected) << writer.name;
        // A raw file alone has no header to read it by.
        if (fs::path(writer.files[0]).extension() == ".raw") continue;
        std::unique_ptr<KVEL::Image> back(KVEL::readImage((folder() / writer.files[0]).c_str()));
        EXPECT_NE(back, nullptr) << writer.name << " wrote a file that does not read back";
    }
}

// A file saved over keeps its permissions, and a link keeps pointing at the
// file it named, which gets the new contents.
TEST_F(FailedSave, SavingOverAFileKeepsItsModeAndSavingThroughALinkKeepsTheLink) {
    const Writer& bitmap = kWriters[0];
    fs::create_directory(folder());
    writeBytes(folder() / "out.bmp", "old");
    fs::permissions(folder() / "out.bmp", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(bitmap.write(folder()));
    EXPECT_EQ(fs::status(folder() / "out.bmp").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    fs::create_directory(dir_ / "real");
    writeBytes(dir_ / "real" / "picture.bmp", "old");
    fs::remove(folder() / "out.bmp");
    fs::create_symlink("../real/picture.bmp", folder() / "out.bmp");
    ASSERT_TRUE(bitmap.write(folder()));
    EXPECT_TRUE(fs::is_symlink(folder() / "out.bmp"));
    KVEL::Bitmap back;
    ASSERT_EQ(back.load((dir_ / "real" / "picture.bmp").c_str()), 1);
    EXPECT_EQ(back.width(), 96);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
}

}  // namespace
