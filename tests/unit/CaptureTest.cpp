#include "PlayerTestSupport.h"

#include "AnsiText.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// A scratch folder per test, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        path_ = std::string(temp) + "kestrava-capture-" + std::to_string(GetCurrentProcessId()) +
                "-" + std::to_string(GetTickCount());
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~ScratchFolder() { remove(std::wstring(path_.begin(), path_.end())); }
    std::string file(const std::string &name) const { return path_ + "\\" + name; }
    const std::string &path() const { return path_; }

  private:
    static void remove(const std::wstring &folder) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") {
                    continue;
                }
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    remove(folder + L"\\" + name);
                } else {
                    DeleteFileW((folder + L"\\" + name).c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(folder.c_str());
    }
    std::string path_;
};

// The names in a folder, "." and ".." left out.
std::vector<std::string> namesIn(const std::wstring &folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name != L"." && name != L"..") {
                names.emplace_back(name.begin(), name.end()); // the tests' names are ASCII
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return names;
}

std::vector<std::string> namesIn(const std::string &folder) {
    return namesIn(std::wstring(folder.begin(), folder.end()));
}

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

// Which file the path names (Wine: its inode): a replacement changes it, a write in place not.
ULONGLONG fileIdOf(const std::string &path) {
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION information = {};
    GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    return (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
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
        return player->GetPicture(type, makeBstr(wide(path).c_str()).get());
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
        const auto calls = doubles::sdkCalls(); // one capture call, the buffer offered first
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
    const ULONGLONG previous = fileIdOf(path);
    EXPECT_EQ(S_OK, capture(1, path));
    EXPECT_EQ(picture, contents(path));
    EXPECT_NE(previous, fileIdOf(path)); // moved over it, not written in place
    EXPECT_THAT(namesIn(folder.path()), ElementsAre("keep.jpg"));
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

TEST_F(Capture, LargePicturesAreSavedWholeAndLogNothing) {
    // Refused once, unlogged, then asked for at the size the engine named; nothing else asked.
    const DWORD size = 2764854; // a 1280x720 BMP
    for (int type : {1, 2}) {
        const char *function = type == 1 ? "PlayM4_GetJPEG" : "PlayM4_GetBMP";
        SCOPED_TRACE(function);
        doubles::clearRecords();
        PlayCtrlDouble_SetPictureSize(1280, 720);
        auto picture = pictureOf(size);
        const std::string path = folder.file(type == 1 ? "big.jpg" : "big.bmp");
        EXPECT_EQ(S_OK, capture(type, path));
        EXPECT_EQ(picture, contents(path));
        const std::vector<std::pair<std::string, DWORD>> expected = {
            {function, 2027520}, {"PlayM4_GetLastError", 0}, {function, size}};
        const auto calls = doubles::sdkCalls();
        ASSERT_EQ(expected.size(), calls.size());
        for (size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(expected[i].first, calls[i].function) << i;
            EXPECT_EQ(kPort, calls[i].args[0]) << i;
            if (expected[i].second) {
                EXPECT_EQ(static_cast<LONG_PTR>(expected[i].second), calls[i].args[2]) << i;
            }
        }
        EXPECT_THAT(logTexts(), IsEmpty());
    }
}

TEST_F(Capture, OnlyABufferTooSmallIsAskedForAgain) {
    const std::string path = folder.file("kept.jpg");
    writeFile(path, "old");
    const DWORD largest = 8192u * 8192u * 4u + 1024u;
    const struct {
        const char *name;
        DWORD code, named;
        std::vector<std::string> log;
    } cases[] = {
        {"another failure that names a size",
         2,
         3000000,
         {"PlayM4_GetJPEG:2\nDescription: The order of the function to be called is "
          "incorrect."}},
        {"a size beyond the largest capture",
         1,
         largest + 1,
         {"Picture larger than the capture buffer: " + std::to_string(largest + 1) +
          " file: " + path}},
    };
    for (const auto &c : cases) {
        for (int type : {1, 2}) {
            SCOPED_TRACE(std::string(c.name) + (type == 1 ? " JPEG" : " BMP"));
            doubles::clearRecords();
            PlayCtrlDouble_SetCaptureRefusal(c.code, c.named);
            EXPECT_EQ(S_FALSE, capture(type, path));
            EXPECT_EQ(1, PlayCtrlDouble_CountCalls(type == 1 ? "PlayM4_GetJPEG" : "PlayM4_GetBMP"));
            std::vector<std::string> log = c.log;
            if (type == 2 && c.code != 1) {
                log[0].replace(0, std::string("PlayM4_GetJPEG").size(), "PlayM4_GetBMP");
            }
            EXPECT_EQ(log, logTexts());
            EXPECT_EQ(3u, contents(path).size());
        }
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
        GTEST_SKIP()
            << "needs a small disk of its own: run as root through capture-unix-folders.sh";
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
        EXPECT_THAT(namesIn(folderPath), ElementsAre("shot.jpg"));
    }
}

TEST_F(Capture, PathsUpToTheLimitAreReplacedWhole) {
    // The temporary file beside the target has a name no longer than the target's.
    for (const std::string name : {"shot.jpg", "a"}) {
        for (size_t length : {240u, 259u}) {
            SCOPED_TRACE(name + " " + std::to_string(length));
            const size_t sub = length - folder.path().size() - 2 - name.size();
            ASSERT_LT(sub, 250u);
            const std::string inner = folder.file(std::string(sub, 'd'));
            ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr) ||
                        GetLastError() == ERROR_ALREADY_EXISTS);
            const std::string path = inner + "\\" + name;
            ASSERT_EQ(length, path.size());
            doubles::clearRecords();
            for (const char *previous : {"", "previous snapshot"}) {
                if (*previous) {
                    writeFile(path, previous);
                }
                auto picture = pictureOf(1000);
                EXPECT_EQ(S_OK, capture(1, path));
                EXPECT_EQ(picture, contents(path));
                EXPECT_THAT(namesIn(inner), ElementsAre(name));
            }
            EXPECT_THAT(logTexts(), IsEmpty());
            DeleteFileA(path.c_str());
            RemoveDirectoryA(inner.c_str());
        }
    }
}

namespace {

// After a snapshot to `written`, every name of the file shows the picture, and they are still
// one file: a change through one shows through the other.
void expectStillLinked(const std::string &written, const std::string &other,
                       const std::vector<BYTE> &picture) {
    EXPECT_EQ(picture, contents(written));
    EXPECT_EQ(picture, contents(other));
    writeFile(other, "changed");
    EXPECT_EQ(7u, contents(written).size());
}

} // namespace

TEST_F(Capture, HardLinkedTargetIsWrittenInPlace) {
    const std::string first = folder.file("first.jpg"), second = folder.file("second.jpg");
    writeFile(first, "previous snapshot");
    ASSERT_TRUE(CreateHardLinkA(second.c_str(), first.c_str(), nullptr));
    for (const std::string &target : {first, second}) {
        SCOPED_TRACE(target);
        auto picture = pictureOf(1000);
        EXPECT_EQ(S_OK, capture(1, target));
        expectStillLinked(target, target == first ? second : first, picture);
    }
    EXPECT_THAT(namesIn(folder.path()), ElementsAre("first.jpg", "second.jpg"));
    EXPECT_THAT(logTexts(), IsEmpty());
}

// Wine shows a Unix symbolic link as a plain file; capture-unix-folders.sh makes one.
TEST_F(Capture, SymbolicLinkIsWrittenThroughNotReplaced) {
    const char *links = std::getenv("KESTRAVA_LINK_FOLDER");
    if (!links) {
        GTEST_SKIP() << "needs a Unix symbolic link: run through capture-unix-folders.sh";
    }
    const std::string link = std::string(links) + "\\link.jpg";
    const std::string target = std::string(links) + "\\target.jpg";
    auto picture = pictureOf(1000);
    EXPECT_EQ(S_OK, capture(1, link));
    expectStillLinked(link, target, picture);
    EXPECT_THAT(namesIn(links), ElementsAre("link.jpg", "target.jpg"));
    EXPECT_THAT(logTexts(), IsEmpty());
}

TEST_F(Capture, FolderWithoutRoomForNewFilesIsWrittenInPlace) {
    const char *full = std::getenv("KESTRAVA_FULL_FOLDER");
    if (!full) {
        GTEST_SKIP() << "needs a folder that takes no new file: run as root through "
                        "capture-unix-folders.sh";
    }
    const std::string path = std::string(full) + "\\shot.jpg";
    writeFile(path, "previous snapshot"); // the one file the folder has room for
    auto picture = pictureOf(1000);
    EXPECT_EQ(S_OK, capture(1, path));
    EXPECT_EQ(picture, contents(path));
    EXPECT_THAT(logTexts(), IsEmpty());
    // A new file still cannot be made.
    const std::string other = std::string(full) + "\\other.jpg";
    EXPECT_EQ(S_FALSE, capture(1, other));
    EXPECT_LOG({{40000, "Could not open file." + other}});
    EXPECT_THAT(namesIn(full), ElementsAre("shot.jpg"));
}

// Wine ignores ACLs. A folder that grants Write but not Modify (files made and written, none
// moved or removed) stands in as an append-only folder, which capture-unix-folders.sh makes.
TEST_F(Capture, FolderThatRefusesTheMoveIsWrittenInPlace) {
    const char *appendOnly = std::getenv("KESTRAVA_APPEND_ONLY_FOLDER");
    if (!appendOnly) {
        GTEST_SKIP() << "needs an append-only folder: run as root through "
                        "capture-unix-folders.sh";
    }
    for (const char *name : {"\\shot.jpg", "\\new.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = appendOnly + std::string(name);
        if (std::string(name) == "\\shot.jpg") {
            writeFile(path, "previous snapshot");
        }
        const ULONGLONG previous = fileIdOf(path);
        auto picture = pictureOf(1000);
        EXPECT_EQ(S_OK, capture(1, path));
        EXPECT_EQ(picture, contents(path));
        if (std::string(name) == "\\shot.jpg") {
            EXPECT_EQ(previous, fileIdOf(path)); // written in place
        }
        EXPECT_THAT(logTexts(), IsEmpty());
    }
    // Linux removes nothing there, not even through the handle as Windows does: the temporary
    // files are left, emptied.
    for (const std::string &name : namesIn(appendOnly)) {
        if (name != "shot.jpg" && name != "new.jpg") {
            EXPECT_EQ('~', name[0]);
            EXPECT_THAT(contents(std::string(appendOnly) + "\\" + name), IsEmpty());
        }
    }
}

TEST_F(Capture, NamesOutsideTheCodePageAreWrittenUnderTheirOwnNameOrRefused) {
    const std::wstring chinese = L"\x4e2d\x6587"; // not in a Western code page
    const std::wstring acuteZ = L"\x17a";         // best fit would write z, another file's name
    if (holdsInAnsi(chinese.c_str()) || holdsInAnsi(acuteZ.c_str())) {
        GTEST_SKIP() << "the system's code page holds the names";
    }
    const std::wstring base = wide(folder.path()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW((base + chinese).c_str(), nullptr));
    const std::string lookAlike = folder.file("snap_z.jpg");
    writeFile(lookAlike, "another file");
    const struct {
        const char *name;
        std::wstring path;
        std::string logged; // empty: written, nothing logged
    } cases[] = {
        {"new file", base + chinese + L"\\shot.jpg", ""},
        {"existing file", base + chinese + L"\\shot.jpg", ""},
        {"a name outside the code page", base + chinese + L"\\" + chinese + L".jpg", ""},
        {"best fit, beside its look-alike", base + L"snap_" + acuteZ + L".jpg", ""},
        {"a folder that does not exist", base + chinese + L"2\\shot.jpg",
         folder.path() + "\\??2\\shot.jpg"},
        {"best fit, a folder that does not exist", base + acuteZ + L"\\snap.jpg",
         folder.path() + "\\?\\snap.jpg"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        doubles::clearRecords();
        auto picture = pictureOf(1000);
        EXPECT_EQ(c.logged.empty() ? S_OK : S_FALSE,
                  player->GetPicture(1, makeBstr(c.path.c_str()).get()));
        if (c.logged.empty()) {
            HANDLE file = CreateFileW(c.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, file);
            std::vector<BYTE> bytes(2000);
            DWORD read = 0;
            ReadFile(file, bytes.data(), 2000, &read, nullptr);
            CloseHandle(file);
            bytes.resize(read);
            EXPECT_EQ(picture, bytes);
            EXPECT_THAT(logTexts(), IsEmpty());
        } else {
            EXPECT_LOG({{40000, "Could not open file." + c.logged}});
        }
    }
    const std::vector<BYTE> kept = contents(lookAlike);
    EXPECT_EQ("another file", std::string(kept.begin(), kept.end()));
    EXPECT_EQ(3u, namesIn(folder.path()).size()); // the folder, the look-alike, the snapshot
    EXPECT_EQ(2u, namesIn(base + chinese).size());
}
