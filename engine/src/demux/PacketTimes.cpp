#include "demux/PacketTimes.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace playctrl {

TsDiscontinuity::TsDiscontinuity(const std::string &utf8Path, const AVFormatContext *fmt) {
    if (std::strcmp(fmt->iformat->name, "mpegts") != 0) {
        return;
    }
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8Path.c_str(), -1, nullptr, 0), 0);
    if (!wide.empty() && MultiByteToWideChar(CP_UTF8, 0, utf8Path.c_str(), -1, &wide[0],
                                             static_cast<int>(wide.size())) > 0) {
        file_.reset(CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    }
}

bool TsDiscontinuity::at(int64_t pos) const {
    uint8_t p[10];
    DWORD got = 0;
    LARGE_INTEGER where;
    where.QuadPart = pos;
    if (!file_ || pos < 0 || !SetFilePointerEx(file_.get(), where, nullptr, FILE_BEGIN) ||
        !ReadFile(file_.get(), p, sizeof p, &got, nullptr) || got != sizeof p) {
        return false;
    }
    const uint8_t *packet = p[0] == 0x47 ? p : p[4] == 0x47 ? p + 4 : nullptr;
    // An adaptation field that is not empty, with its first flag set.
    return packet && (packet[3] & 0x20) && packet[4] > 0 && (packet[5] & 0x80);
}

IndexEntry entryOf(const AVPacket &pkt, int64_t counter) {
    const int64_t ts = pkt.pts != AV_NOPTS_VALUE   ? pkt.pts
                       : pkt.dts != AV_NOPTS_VALUE ? pkt.dts
                                                   : counter;
    const bool key = (pkt.flags & AV_PKT_FLAG_KEY) != 0;
    return {ts, pkt.pos, key, pkt.dts != AV_NOPTS_VALUE ? pkt.dts : ts, ts};
}

void PacketsRead::add(const AVPacket &pkt) {
    everyPts = everyPts && pkt.pts != AV_NOPTS_VALUE;
    if (pkt.dts != AV_NOPTS_VALUE && lastDts_ != AV_NOPTS_VALUE) {
        dtsSteps.push_back(pkt.dts - lastDts_);
    }
    lastDts_ = pkt.dts;
    packets.push_back(entryOf(pkt, static_cast<int64_t>(packets.size())));
}

void TimelineFeed::add(const AVPacket &pkt) {
    flush();
    held_ = {pkt.dts, pkt.pts, pkt.pos, (pkt.flags & AV_PKT_FLAG_KEY) != 0};
    holding_ = true;
}

Timeline TimelineFeed::finish() {
    Timeline before = timeline_;
    flush();
    return before;
}

void TimelineFeed::flush() {
    if (holding_) {
        timeline_.add(held_.dts, held_.pts, held_.pos, held_.key,
                      held_.key && discontinuity_.at(held_.pos));
        holding_ = false;
    }
}

std::vector<IndexEntry> inTimeOrder(std::vector<IndexEntry> packets, const Timeline &timeline) {
    for (IndexEntry &e : packets) {
        e.seekTs = e.filePts;
        e.pts = e.filePts + timeline.offsetAt(e.pos);
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const IndexEntry &a, const IndexEntry &b) { return a.pts < b.pts; });
    return packets;
}

std::vector<IndexEntry> timedByPlace(const PacketsRead &read,
                                     const std::vector<DisplayOrder::Picture> &pictures,
                                     int64_t rateTicks) {
    // Containers that time packets by their place (AVI) may count in units of half a frame
    // or so: the step between packets says more than the header's rate.
    int64_t ticks = medianStep(read.dtsSteps);
    if (ticks <= 0) {
        ticks = rateTicks;
    }
    std::vector<IndexEntry> entries;
    for (const DisplayOrder::Picture &p : pictures) {
        IndexEntry e = read.packets[p.packet];
        e.pts = p.position * std::max<int64_t>(ticks, 1);
        e.key = p.key;
        entries.push_back(e);
    }
    return entries;
}

int64_t medianStep(std::vector<int64_t> steps) {
    steps.erase(std::remove_if(steps.begin(), steps.end(), [](int64_t s) { return s <= 0; }),
                steps.end());
    if (steps.empty()) {
        return 0;
    }
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

void countSteps(const std::vector<IndexEntry> &entries, size_t from, size_t to,
                std::map<int64_t, int64_t> &counts, int sign) {
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i) {
        const int64_t step = entries[i].pts - entries[i - 1].pts;
        if (step > 0 && (counts[step] += sign) == 0) {
            counts.erase(step);
        }
    }
}

int64_t medianOf(const std::map<int64_t, int64_t> &counts) {
    int64_t total = 0;
    for (const auto &c : counts) {
        total += c.second;
    }
    int64_t before = total / 2;
    for (const auto &c : counts) {
        if (before < c.second) {
            return c.first;
        }
        before -= c.second;
    }
    return 0;
}

} // namespace playctrl
