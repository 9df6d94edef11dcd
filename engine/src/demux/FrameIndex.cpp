#include "demux/FrameIndex.h"

#include "demux/DisplayOrder.h"
#include "base/FfmpegPtr.h"
#include "demux/MediaInput.h"

#include "Owners.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

namespace playctrl {

namespace {
// The middle of the positive steps, 0 if there are none.
int64_t medianStep(std::vector<int64_t> steps) {
    steps.erase(std::remove_if(steps.begin(), steps.end(), [](int64_t s) { return s <= 0; }),
                steps.end());
    if (steps.empty()) {
        return 0;
    }
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return steps[steps.size() / 2];
}

// Counts (sign 1) or uncounts (-1) the steps from each entry's time to the next that involve
// the entries [from, to).
void countSteps(const std::vector<IndexEntry> &entries, size_t from, size_t to,
                std::map<int64_t, int64_t> &counts, int sign) {
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i) {
        const int64_t step = entries[i].pts - entries[i - 1].pts;
        if (step > 0 && (counts[step] += sign) == 0) {
            counts.erase(step);
        }
    }
}

// The middle of the counted steps, as medianStep finds it; 0 if there are none.
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

// The discontinuity flag that a transport stream sets in the packet where its time base starts
// afresh: libavformat reads it but does not hand it on.
class TsDiscontinuity {
  public:
    TsDiscontinuity(const std::string &utf8Path, const AVFormatContext *fmt) {
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

    // Whether the transport packet at byte position `pos` (192-byte packets start with four
    // bytes of their own) carries the flag.
    bool at(int64_t pos) const {
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

  private:
    kestrava::FileHandle file_;
};

// What the index takes from one packet of its stream; `counter` numbers untimed packets.
IndexEntry entryOf(const AVPacket &pkt, int64_t counter) {
    const int64_t ts = pkt.pts != AV_NOPTS_VALUE   ? pkt.pts
                       : pkt.dts != AV_NOPTS_VALUE ? pkt.dts
                                                   : counter;
    const bool key = (pkt.flags & AV_PKT_FLAG_KEY) != 0;
    return {ts, pkt.pos, key, pkt.dts != AV_NOPTS_VALUE ? pkt.dts : ts, ts};
}

// Puts packets onto a timeline one behind, so that its state before the last one is known:
// the last packet of a reading may have been cut short, and is read again next time.
class TimelineFeed {
  public:
    TimelineFeed(Timeline &timeline, const TsDiscontinuity &discontinuity)
        : timeline_(timeline), discontinuity_(discontinuity) {}
    void add(const AVPacket &pkt) {
        flush();
        held_ = {pkt.dts, pkt.pts, pkt.pos, (pkt.flags & AV_PKT_FLAG_KEY) != 0};
        holding_ = true;
    }
    // The timeline before the last packet; then the last packet goes onto it too.
    Timeline finish() {
        Timeline before = timeline_;
        flush();
        return before;
    }

  private:
    void flush() {
        if (holding_) {
            timeline_.add(held_.dts, held_.pts, held_.pos, held_.key,
                          held_.key && discontinuity_.at(held_.pos));
            holding_ = false;
        }
    }
    struct Held {
        int64_t dts, pts, pos;
        bool key;
    };
    Timeline &timeline_;
    const TsDiscontinuity &discontinuity_;
    Held held_{};
    bool holding_ = false;
};

// Packets that each carry their display time: in display order within each segment, and
// segment after segment.
std::vector<IndexEntry> inTimeOrder(std::vector<IndexEntry> packets, const Timeline &timeline) {
    for (IndexEntry &e : packets) {
        e.seekTs = e.filePts;
        e.pts = e.filePts + timeline.offsetAt(e.pos);
    }
    std::stable_sort(packets.begin(), packets.end(),
                     [](const IndexEntry &a, const IndexEntry &b) { return a.pts < b.pts; });
    return packets;
}
} // namespace

void FrameIndex::start(LONG port, const std::string &utf8Path, int stream,
                       std::function<void()> onDone) {
    stop();
    abort_ = false;
    ready_ = false;
    entries_.clear();
    keys_.clear();
    packetPts_.clear();
    timeline_.reset(1, 1, false);
    try {
        builder_.start(port, [this, utf8Path, stream, onDone = std::move(onDone)] {
            build(utf8Path, stream, onDone);
        });
    } catch (...) {
        assign({}); // nobody waits for an index that will never come
        throw;
    }
}

void FrameIndex::stop() {
    abort_ = true;
    builder_.join();
    input_.reset();
    stepCounts_.clear();
}

void FrameIndex::waitReady() {
    std::unique_lock<std::mutex> lock(mutex_);
    readyChanged_.wait(lock, [this] { return ready_.load(); });
}

void FrameIndex::build(std::string path, int stream, std::function<void()> onDone) {
    std::vector<IndexEntry> entries;
    try {
        entries = read(path, stream);
    } catch (...) {
    }
    assign(std::move(entries));
    if (!abort_ && onDone) {
        onDone();
    }
}

std::vector<IndexEntry> FrameIndex::read(const std::string &path, int stream) {
    std::vector<IndexEntry> packets; // in decode order
    std::unique_ptr<DisplayOrder> order;
    bool everyPts = true;
    std::vector<int64_t> dtsSteps;
    int64_t lastDts = AV_NOPTS_VALUE;
    AVRational timeBase{1, 1000}, rate{25, 1};
    FormatContextPtr fmt;
    std::optional<TsDiscontinuity> discontinuity;
    std::optional<TimelineFeed> feed;
    bool whole = false; // read to the end of the file
    try {
        fmt = openInput(path, &abort_);
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            fmt->streams[i]->discard =
                static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
        AVStream *st = fmt->streams[stream];
        timeBase = st->time_base;
        rate = frameRateOf(st);
        timeline_.reset(av_rescale_q(1, av_inv_q(rate), timeBase),
                        av_rescale_q(1, AVRational{1, 1}, timeBase),
                        readsStraightThrough(fmt.get()));
        if (DisplayOrder::supports(st->codecpar->codec_id)) {
            try {
                order = std::make_unique<DisplayOrder>(st->codecpar);
            } catch (...) {
                // Without it, packets are taken in the order of their time stamps.
            }
        }
        discontinuity.emplace(path, fmt.get());
        feed.emplace(timeline_, *discontinuity);
        PacketPtr pkt(av_packet_alloc());
        int64_t counter = 0;
        int rc = 0;
        while (!abort_ && (rc = av_read_frame(fmt.get(), pkt.get())) >= 0) {
            if (pkt->stream_index == stream && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
                everyPts = everyPts && pkt->pts != AV_NOPTS_VALUE;
                if (pkt->dts != AV_NOPTS_VALUE && lastDts != AV_NOPTS_VALUE) {
                    dtsSteps.push_back(pkt->dts - lastDts);
                }
                lastDts = pkt->dts;
                packets.push_back(entryOf(*pkt, counter));
                feed->add(*pkt);
                if (order) {
                    order->add(pkt.get());
                }
                ++counter;
            }
            av_packet_unref(pkt.get());
        }
        whole = rc == AVERROR_EOF;
    } catch (const EngineError &) {
        // An unreadable tail leaves the frames read so far.
    }
    if (feed) {
        beforeLast_ = feed->finish();
    }
    if (everyPts || !order) {
        const bool placed = std::all_of(packets.begin(), packets.end(),
                                        [](const IndexEntry &e) { return e.pos >= 0; });
        if (everyPts && whole && placed && !packets.empty() && readsStraightThrough(fmt.get())) {
            input_ = std::move(fmt);
            path_ = path;
            stream_ = stream;
            lastPos_ = packets.back().pos;
            readTo_ = avio_tell(input_->pb);
        }
        std::vector<IndexEntry> entries = inTimeOrder(std::move(packets), timeline_);
        if (input_) {
            countSteps(entries, 0, entries.size(), stepCounts_, 1);
        }
        return entries;
    }
    // Containers that time packets by their place (AVI) may count in units of half a frame
    // or so: the step between packets says more than the header's rate.
    int64_t ticks = medianStep(dtsSteps);
    if (ticks <= 0) {
        ticks = av_rescale_q(1, av_inv_q(rate), timeBase);
    }
    std::vector<IndexEntry> entries;
    for (const DisplayOrder::Picture &p : order->finish()) {
        IndexEntry e = packets[p.packet];
        e.pts = p.position * std::max<int64_t>(ticks, 1);
        e.key = p.key;
        entries.push_back(e);
        if (e.pos >= 0) {
            packetPts_.emplace_back(e.pos, e.pts);
        }
    }
    std::sort(packetPts_.begin(), packetPts_.end());
    return entries;
}

bool FrameIndex::readAppended(Appended &appended) {
    if (!input_ || abort_ || avio_size(input_->pb) <= readTo_) {
        return false;
    }
    // The last packet may have been written only in part when it was read: it is read again,
    // onto the timeline as it was before it. The buffer goes first, so that the seek reaches
    // the file and its end is looked for anew.
    const int64_t from = lastPos_;
    avio_flush(input_->pb);
    if (avformat_seek_file(input_.get(), -1, from, from, from, AVSEEK_FLAG_BYTE) < 0) {
        input_.reset();
        return false;
    }
    appended.entries.clear();
    appended.timeline = beforeLast_;
    const TsDiscontinuity discontinuity(path_, input_.get());
    TimelineFeed feed(appended.timeline, discontinuity);
    PacketPtr pkt(av_packet_alloc());
    int rc = pkt ? 0 : AVERROR(ENOMEM);
    while (!abort_ && rc >= 0 && (rc = av_read_frame(input_.get(), pkt.get())) >= 0) {
        if (pkt->stream_index == stream_ && !(pkt->flags & AV_PKT_FLAG_DISCARD) &&
            pkt->pos >= from) {
            appended.entries.push_back(entryOf(*pkt, 0));
            feed.add(*pkt);
        }
        av_packet_unref(pkt.get());
    }
    // A reading cut short would lose frames: it is done again next time.
    if (rc != AVERROR_EOF || appended.entries.empty() || appended.entries.front().pos != from) {
        return false;
    }
    appended.beforeLast = feed.finish();
    appended.lastPos = appended.entries.back().pos;
    appended.readTo = avio_tell(input_->pb);
    return true;
}

void FrameIndex::takeIn(Appended appended) {
    const Timeline &now = appended.timeline;
    auto byPts = [](const IndexEntry &a, const IndexEntry &b) { return a.pts < b.pts; };
    for (IndexEntry &e : appended.entries) {
        e.seekTs = e.filePts;
        e.pts = e.filePts + now.offsetAt(e.pos);
    }
    // Entries that may still move: the last segment's, when its offset changed, and those of
    // packets that waited for a leap to persist. Otherwise only the new ones and what they
    // come before.
    const int last = timeline_.segments() - 1;
    const bool moved =
        timeline_.waiting() || (last >= 0 && now.offset(last) != timeline_.offset(last));
    const auto minNew = std::min_element(appended.entries.begin(), appended.entries.end(), byPts);
    size_t from =
        moved
            ? std::lower_bound(entries_.begin(), entries_.end(), timeline_.settledBefore(),
                               [](const IndexEntry &e, int64_t v) { return e.pts < v; }) -
                  entries_.begin()
            : std::upper_bound(entries_.begin(), entries_.end(), *minNew, byPts) - entries_.begin();
    // The packet read again, near the end, is replaced.
    size_t again = entries_.size();
    while (again > 0 && entries_[again - 1].pos != lastPos_) {
        --again;
    }
    if (again > 0) {
        from = std::min(from, again - 1);
    }
    countSteps(entries_, from, entries_.size(), stepCounts_, -1);
    if (again > 0) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(again - 1));
    }
    for (size_t i = from; i < entries_.size(); ++i) {
        entries_[i].pts = entries_[i].filePts + now.offsetAt(entries_[i].pos);
    }
    entries_.insert(entries_.end(), appended.entries.begin(), appended.entries.end());
    std::stable_sort(entries_.begin() + static_cast<std::ptrdiff_t>(from), entries_.end(), byPts);
    countSteps(entries_, from, entries_.size(), stepCounts_, 1);
    frameTicks_ = medianOf(stepCounts_);
    keys_.erase(std::lower_bound(keys_.begin(), keys_.end(), static_cast<int>(from)), keys_.end());
    for (size_t i = from; i < entries_.size(); ++i) {
        if (entries_[i].key) {
            keys_.push_back(static_cast<int>(i));
        }
    }
    timeline_ = std::move(appended.timeline);
    beforeLast_ = std::move(appended.beforeLast);
    lastPos_ = appended.lastPos;
    readTo_ = appended.readTo;
}

bool FrameIndex::writtenWithin(int64_t ms) const {
    const int size = MultiByteToWideChar(CP_UTF8, 0, path_.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, 0);
    WIN32_FILE_ATTRIBUTE_DATA data;
    FILETIME now;
    if (!input_ || size <= 0 ||
        MultiByteToWideChar(CP_UTF8, 0, path_.c_str(), -1, &wide[0], size) <= 0 ||
        !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME &t) {
        return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                    t.dwLowDateTime);
    };
    return ticks(now) - ticks(data.ftLastWriteTime) < ms * 10000; // in 100 ns
}

int64_t FrameIndex::ptsForPacket(int64_t pos) const {
    auto it = std::lower_bound(packetPts_.begin(), packetPts_.end(),
                               std::make_pair(pos, static_cast<int64_t>(INT64_MIN)));
    return it != packetPts_.end() && it->first == pos ? it->second : AV_NOPTS_VALUE;
}

void FrameIndex::assign(std::vector<IndexEntry> packets) {
    entries_ = std::move(packets);
    std::vector<int64_t> steps;
    for (size_t i = 1; i < entries_.size(); ++i) {
        steps.push_back(entries_[i].pts - entries_[i - 1].pts);
    }
    frameTicks_ = medianStep(steps);
    keys_.clear();
    for (int i = 0; i < count(); ++i) {
        if (entries_[i].key) {
            keys_.push_back(i);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_ = true;
    }
    readyChanged_.notify_all();
}

int FrameIndex::frameForPts(int64_t pts) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), pts,
                               [](const IndexEntry &e, int64_t v) { return e.pts < v; });
    if (it == entries_.end() || it->pts != pts) {
        return -1;
    }
    return static_cast<int>(it - entries_.begin());
}

int FrameIndex::lastFrameAtOrBefore(int64_t pts) const {
    auto it = std::upper_bound(entries_.begin(), entries_.end(), pts,
                               [](int64_t v, const IndexEntry &e) { return v < e.pts; });
    return static_cast<int>(it - entries_.begin()) - 1;
}

int FrameIndex::keyAtOrBefore(int frame) const {
    auto it = std::upper_bound(keys_.begin(), keys_.end(), frame);
    return it == keys_.begin() ? -1 : *(it - 1);
}

int FrameIndex::keyAfter(int frame) const {
    auto it = std::upper_bound(keys_.begin(), keys_.end(), frame);
    return it == keys_.end() ? -1 : *it;
}

} // namespace playctrl
