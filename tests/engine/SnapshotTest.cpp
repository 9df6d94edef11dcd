#include "EngineSupport.h"

#include <cstdio>
#include <cstring>

using namespace enginetest;

namespace {
constexpr DWORD kOffered = 2027520; // what the component hands over

// Width and height from a JPEG's start-of-frame marker, or 0x0.
std::pair<int, int> jpegSize(const std::vector<BYTE> &j) {
    for (size_t i = 2; i + 9 < j.size();) {
        if (j[i] != 0xFF)
            return {0, 0};
        BYTE marker = j[i + 1];
        size_t length = (j[i + 2] << 8) | j[i + 3];
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2)
            return {(j[i + 7] << 8) | j[i + 8], (j[i + 5] << 8) | j[i + 6]};
        i += 2 + length;
    }
    return {0, 0};
}

template <class T> T field(const std::vector<BYTE> &b, size_t at) {
    T v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}

void save(const std::vector<BYTE> &bytes, const char *name) {
    std::string path = media(name);
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}
} // namespace

TEST(Snapshot, BmpIsACompleteTwentyFourBitFile) {
    OpenClip c("hevc.mkv", false);
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 42));
    std::vector<BYTE> buffer(kOffered);
    DWORD written = 0;
    ASSERT_TRUE(PlayM4_GetBMP(c.port, buffer.data(), kOffered, &written));
    buffer.resize(written);
    ASSERT_GT(written, 54u);
    EXPECT_EQ('B', buffer[0]);
    EXPECT_EQ('M', buffer[1]);
    EXPECT_EQ(written, field<uint32_t>(buffer, 2));
    EXPECT_EQ(kClipWidth, field<int32_t>(buffer, 18));
    EXPECT_EQ(kClipHeight, std::abs(field<int32_t>(buffer, 22)));
    EXPECT_EQ(24, field<uint16_t>(buffer, 28));
    EXPECT_EQ(54u + 320 * 3 * 240, written);
    save(buffer, "snapshot.bmp");
}

TEST(Snapshot, JpegIsACompleteFileOfThePictureSize) {
    OpenClip c("h264.mp4", false);
    std::vector<BYTE> buffer(kOffered);
    DWORD written = 0;
    // Before anything is shown the first frame is captured.
    ASSERT_TRUE(PlayM4_GetJPEG(c.port, buffer.data(), kOffered, &written));
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 99));
    ASSERT_TRUE(PlayM4_GetJPEG(c.port, buffer.data(), kOffered, &written));
    buffer.resize(written);
    ASSERT_GT(written, 100u);
    EXPECT_EQ(0xFF, buffer[0]);
    EXPECT_EQ(0xD8, buffer[1]);
    EXPECT_EQ(0xFF, buffer[written - 2]);
    EXPECT_EQ(0xD9, buffer[written - 1]);
    EXPECT_EQ(std::make_pair(320, 240), jpegSize(buffer));
    save(buffer, "snapshot.jpg");
}

TEST(Snapshot, SmallBufferFailsWithoutWritingPastItsSize) {
    OpenClip c("h264.mp4", false);
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 10));
    for (bool jpeg : {false, true}) {
        std::vector<BYTE> buffer(1024 + 64, 0xAB);
        DWORD written = 12345;
        BOOL ok = jpeg ? PlayM4_GetJPEG(c.port, buffer.data(), 1024, &written)
                       : PlayM4_GetBMP(c.port, buffer.data(), 1024, &written);
        EXPECT_FALSE(ok);
        EXPECT_NE(0u, PlayM4_GetLastError(c.port));
        for (size_t i = 1024; i < buffer.size(); ++i)
            ASSERT_EQ(0xAB, buffer[i]) << i;
    }
    DWORD written;
    EXPECT_FALSE(PlayM4_GetBMP(c.port, nullptr, kOffered, &written));
    EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
}
