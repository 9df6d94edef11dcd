#include "EngineSupport.h"

#include <cstdio>
#include <cstring>

using namespace enginetest;

namespace {
constexpr DWORD kOffered = 2027520; // what the component hands over

// Width and height from a JPEG's start-of-frame marker, or 0x0.
std::pair<int, int> jpegSize(const std::vector<BYTE> &j) {
    for (size_t i = 2; i + 9 < j.size();) {
        if (j[i] != 0xFF) {
            return {0, 0};
        }
        BYTE marker = j[i + 1];
        size_t length = (j[i + 2] << 8) | j[i + 3];
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
            return {(j[i + 7] << 8) | j[i + 8], (j[i + 5] << 8) | j[i + 6]};
        }
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

TEST(Snapshot, TooSmallBufferIsLeftUntouchedAndToldTheSizeNeeded) {
    // The BMP's size is told from the picture's before it is made: rows padded to four bytes.
    const struct {
        const char *clip;
        int width, height;
        DWORD bmpBytes;
    } clips[] = {{"h264_1080p.mp4", 1920, 1080, 54 + 1920 * 3 * 1080},
                 {"h264_1282.mp4", 1282, 722, 54 + 3848 * 722}};
    for (const auto &clip : clips) {
        SCOPED_TRACE(clip.clip);
        OpenClip c(clip.clip, false);
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 3));
        for (bool jpeg : {false, true}) {
            SCOPED_TRACE(jpeg ? "jpeg" : "bmp");
            auto grab = [&](std::vector<BYTE> &b, DWORD size, DWORD *written) {
                return jpeg ? PlayM4_GetJPEG(c.port, b.data(), size, written)
                            : PlayM4_GetBMP(c.port, b.data(), size, written);
            };
            const DWORD offered = jpeg ? 1024 : kOffered;
            std::vector<BYTE> buffer(offered + 64, 0xAB);
            DWORD needed = 12345;
            EXPECT_FALSE(grab(buffer, offered, &needed));
            EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
            for (size_t i = 0; i < buffer.size(); ++i) {
                ASSERT_EQ(0xAB, buffer[i]) << i;
            }
            if (!jpeg) {
                EXPECT_EQ(clip.bmpBytes, needed);
            }
            ASSERT_GT(needed, offered);

            std::vector<BYTE> fits(needed);
            DWORD written = 0;
            ASSERT_TRUE(grab(fits, needed, &written)) << PlayM4_GetLastError(c.port);
            EXPECT_EQ(needed, written);
            if (jpeg) {
                EXPECT_EQ(std::make_pair(clip.width, clip.height), jpegSize(fits));
            } else {
                EXPECT_EQ(needed, field<uint32_t>(fits, 2));
                EXPECT_EQ(clip.width, field<int32_t>(fits, 18));
            }
        }
        DWORD written = 0;
        EXPECT_FALSE(PlayM4_GetBMP(c.port, nullptr, kOffered, &written));
        EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
        EXPECT_EQ(clip.bmpBytes, written);
        EXPECT_FALSE(PlayM4_GetBMP(c.port, nullptr, kOffered, nullptr));
        EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
    }
}
