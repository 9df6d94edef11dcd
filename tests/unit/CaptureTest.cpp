#include "PlayerTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A scratch folder per test, removed with what is in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        path_ = std::string(temp) + "kestrava-capture-" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(GetTickCount());
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((path_ + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string file(const std::string &name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

std::wstring wide(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

bool exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<BYTE> contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

class Capture : public PlayerTest {
  protected:
    void SetUp() override {
        PlayerTest::SetUp();
        open();
    }
    // The SDK's next picture: distinct bytes, so any cut or shift shows.
    std::vector<BYTE> pictureOf(size_t size) {
        std::vector<BYTE> bytes(size);
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<BYTE>(i * 7 + 3);
        }
        PlayCtrlDouble_SetPicture(bytes.data(), static_cast<DWORD>(size), static_cast<DWORD>(size));
        return bytes;
    }
    HRESULT capture(int type, const std::string &path) {
        return player->GetPicture(type, Bstr(wide(path).c_str()));
    }
    ScratchFolder folder;
};

} // namespace

TEST_F(Capture, SavesExactlyTheSdkBytesWhateverTheExtension) {
    const struct {
        int type;
        const char *function;
        const char *name;
    } cases[] = {{1, "PlayM4_GetJPEG", "shot.jpg"},
                 {2, "PlayM4_GetBMP", "shot.jpg"},
                 {1, "PlayM4_GetJPEG", "shot.bmp"},
                 {2, "PlayM4_GetBMP", "noextension"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        doubles::clearRecords();
        auto picture = pictureOf(1000 + static_cast<size_t>(c.type));
        EXPECT_EQ(S_OK, capture(c.type, folder.file(c.name)));
        EXPECT_EQ(picture, contents(folder.file(c.name)));
        auto calls = doubles::sdkCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_STREQ(c.function, calls[0].function);
        EXPECT_EQ(kPort, calls[0].args[0]);
        EXPECT_EQ(2027520, calls[0].args[2]);
    }
    EXPECT_THAT(logTexts(), IsEmpty());
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
}

TEST_F(Capture, FullCapacityPictureIsWrittenWhole) {
    auto picture = pictureOf(2027520);
    EXPECT_EQ(S_OK, capture(1, folder.file("full.jpg")));
    EXPECT_EQ(picture, contents(folder.file("full.jpg")));
}

TEST_F(Capture, ZeroBytePictureGivesAnEmptyFile) {
    pictureOf(0);
    EXPECT_EQ(S_OK, capture(2, folder.file("empty.bmp")));
    EXPECT_TRUE(exists(folder.file("empty.bmp")));
    EXPECT_THAT(contents(folder.file("empty.bmp")), IsEmpty());
}

TEST_F(Capture, ExistingFileIsReplacedOnlyAfterTheSdkDelivered) {
    const std::string path = folder.file("keep.jpg");
    writeFile(path, "previous snapshot, longer than the next one");
    PlayCtrlDouble_SetResult("PlayM4_GetJPEG", 0);
    EXPECT_EQ(S_FALSE, capture(1, path));
    EXPECT_EQ(std::string("previous snapshot, longer than the next one").size(),
              contents(path).size());

    PlayCtrlDouble_SetResult("PlayM4_GetJPEG", 1);
    auto picture = pictureOf(5);
    EXPECT_EQ(S_OK, capture(1, path));
    EXPECT_EQ(picture, contents(path));
}

TEST_F(Capture, UnsupportedTypesAskNothingAndCreateNothing) {
    pictureOf(10);
    for (int type : {0, 3, -1}) {
        const std::string path = folder.file("t" + std::to_string(type) + ".jpg");
        EXPECT_EQ(S_FALSE, capture(type, path)) << type;
        EXPECT_FALSE(exists(path));
    }
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
    EXPECT_LOG({{40000, "Unsupport capture type: 0 file: " + folder.file("t0.jpg")},
                {40000, "Unsupport capture type: 3 file: " + folder.file("t3.jpg")},
                {40000, "Unsupport capture type: -1 file: " + folder.file("t-1.jpg")}});
}

TEST_F(Capture, FailedSdkCaptureCreatesNoFile) {
    PlayCtrlDouble_SetResult("PlayM4_GetBMP", 0);
    PlayCtrlDouble_SetLastError(26);
    EXPECT_EQ(S_FALSE, capture(2, folder.file("none.bmp")));
    EXPECT_FALSE(exists(folder.file("none.bmp")));
    EXPECT_LOG({{30000, "PlayM4_GetBMP:26\nDescription: JPEG compression error when capturing "
                        "jpeg file."}});
}

TEST_F(Capture, WithoutAFileTheSdkRefusesPortMinusOne) {
    player.reset();
    player = std::make_unique<TestPlayer>();
    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_GetJPEG", 0);
    EXPECT_EQ(S_FALSE, capture(1, folder.file("x.jpg")));
    EXPECT_EQ(-1, doubles::sdkCalls()[0].args[0]);
    EXPECT_FALSE(exists(folder.file("x.jpg")));
}

TEST_F(Capture, MissingFolderAndEmptyPathCannotBeOpened) {
    pictureOf(10);
    const std::string missing = folder.file("no such folder\\shot.jpg");
    EXPECT_EQ(S_FALSE, capture(1, missing));
    EXPECT_EQ(S_FALSE, capture(2, ""));
    EXPECT_FALSE(exists(missing));
    EXPECT_LOG({{40000, "Could not open file." + missing}, {40000, "Could not open file."}});
}

TEST_F(Capture, PictureLargerThanTheBufferIsRefusedWithoutAFile) {
    std::vector<BYTE> bytes(16, 0xAB);
    PlayCtrlDouble_SetPicture(bytes.data(), 16, 2027521);
    const std::string path = folder.file("big.jpg");
    writeFile(path, "old");
    EXPECT_EQ(S_FALSE, capture(1, path));
    EXPECT_EQ(3u, contents(path).size());
    EXPECT_LOG({{40000, "Picture larger than the capture buffer: 2027521 file: " + path}});
}

TEST_F(Capture, NullPathAsksNothing) {
    pictureOf(10);
    EXPECT_EQ(S_FALSE, player->GetPicture(1, nullptr));
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(Capture, FileIsNotSharedWhileWritten) {
    // A reader holding the file open makes the exclusive, replacing create fail.
    const std::string path = folder.file("held.jpg");
    writeFile(path, "held");
    HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    pictureOf(10);
    EXPECT_EQ(S_FALSE, capture(1, path));
    CloseHandle(reader);
    EXPECT_LOG({{40000, "Could not open file." + path}});
}

TEST_F(Capture, PictureTooBigForTheBufferIsAskedForOnceMoreAtItsSize) {
    const struct {
        int type;
        const char *function;
        const char *name;
    } cases[] = {{1, "PlayM4_GetJPEG", "big.jpg"}, {2, "PlayM4_GetBMP", "big.bmp"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        doubles::clearRecords();
        const DWORD size = 2764854; // a 1280x720 BMP
        auto picture = pictureOf(size);
        EXPECT_EQ(S_OK, capture(c.type, folder.file(c.name)));
        EXPECT_EQ(picture, contents(folder.file(c.name)));
        auto calls = doubles::sdkCalls();
        ASSERT_EQ(3u, calls.size());
        EXPECT_STREQ(c.function, calls[0].function);
        EXPECT_EQ(2027520, calls[0].args[2]);
        EXPECT_EQ(onPort("PlayM4_GetLastError"), doubles::sdkCallTexts()[1]);
        EXPECT_STREQ(c.function, calls[2].function);
        EXPECT_EQ(kPort, calls[2].args[0]);
        EXPECT_EQ(static_cast<LONG_PTR>(size), calls[2].args[2]);
        EXPECT_LOG({{30000, std::string(c.function) +
                                ":1\nDescription: The parameter that user inputted is invalid."}});
    }
}

TEST_F(Capture, RefusalWithoutANeededSizeFailsAsBefore) {
    PlayCtrlDouble_SetRefusalNamesSize(0);
    pictureOf(2027521);
    const std::string path = folder.file("big.jpg");
    writeFile(path, "old");
    EXPECT_EQ(S_FALSE, capture(1, path));
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_GetJPEG"));
    EXPECT_EQ(3u, contents(path).size());
}

TEST_F(Capture, FailedWriteReportsTheSystemsCode) {
    // Wine's drive Z: is the Unix root, where every write to /dev/full fails: disk full.
    pictureOf(1000);
    EXPECT_EQ(S_FALSE, capture(1, "Z:\\dev\\full"));
    EXPECT_LOG({{40000, "Write File error: 112Z:\\dev\\full"}});
}

TEST_F(Capture, FullDiskKeepsThePreviousSnapshotAndLeavesNothingBehind) {
    const char *small = std::getenv("KESTRAVA_SMALL_DISK");
    if (!small) {
        GTEST_SKIP() << "needs a small disk of its own: run as root through capture-full-disk.sh";
    }
    const std::string folderPath = small;
    const std::string path = folderPath + "\\shot.jpg";
    writeFile(path, "previous snapshot");
    for (size_t size : {1000000u, 60000u}) { // far beyond the free space, and a part of it
        SCOPED_TRACE(size);
        QorLogDouble_ClearEntries();
        pictureOf(size);
        EXPECT_EQ(S_FALSE, capture(1, path));
        const std::vector<BYTE> kept = contents(path);
        EXPECT_EQ("previous snapshot", std::string(kept.begin(), kept.end()));
        EXPECT_LOG({{40000, "Write File error: 112" + path}});
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folderPath + "\\*").c_str(), &found);
        ASSERT_NE(INVALID_HANDLE_VALUE, search);
        std::vector<std::string> names;
        do {
            if (found.cFileName[0] != '.') {
                names.push_back(found.cFileName);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
        EXPECT_THAT(names, ElementsAre("shot.jpg"));
    }
}
