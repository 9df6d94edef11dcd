#include "demux/FrameIndex.h"

#include "demux/DisplayOrder.h"
#include "base/FfmpegPtr.h"
#include "demux/MediaInput.h"
#include "demux/PacketTimes.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>

namespace playctrl {

namespace {
// Packets of the other streams are not even read.
void keepOnly(AVFormatContext *fmt, int stream) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        fmt->streams[i]->discard =
            static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

// The display order read from the bitstream, where the codec allows it.
std::unique_ptr<DisplayOrder> displayOrderOf(const AVCodecParameters *codec) {
    if (DisplayOrder::supports(codec->codec_id)) {
        try {
            return std::make_unique<DisplayOrder>(codec);
        } catch (...) {
            // Without it, packets are taken in the order of their time stamps.
        }
    }
    return nullptr;
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
    PacketsRead taken;
    std::unique_ptr<DisplayOrder> order;
    AVRational timeBase{1, 1000}, rate{25, 1};
    FormatContextPtr fmt;
    std::optional<TsDiscontinuity> discontinuity;
    std::optional<TimelineFeed> feed;
    bool whole = false; // read to the end of the file
    try {
        fmt = openInput(path, &abort_);
        keepOnly(fmt.get(), stream);
        AVStream *st = fmt->streams[stream];
        timeBase = st->time_base;
        rate = frameRateOf(st);
        timeline_.reset(av_rescale_q(1, av_inv_q(rate), timeBase),
                        av_rescale_q(1, AVRational{1, 1}, timeBase),
                        readsStraightThrough(fmt.get()));
        order = displayOrderOf(st->codecpar);
        discontinuity.emplace(path, fmt.get());
        feed.emplace(timeline_, *discontinuity);
        PacketPtr pkt(av_packet_alloc());
        int rc = 0;
        while (!abort_ && (rc = av_read_frame(fmt.get(), pkt.get())) >= 0) {
            if (pkt->stream_index == stream && !(pkt->flags & AV_PKT_FLAG_DISCARD)) {
                taken.add(*pkt);
                feed->add(*pkt);
                if (order) {
                    order->add(pkt.get());
                }
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
    std::vector<IndexEntry> &packets = taken.packets;
    if (taken.everyPts || !order) {
        const bool placed = std::all_of(packets.begin(), packets.end(),
                                        [](const IndexEntry &e) { return e.pos >= 0; });
        if (taken.everyPts && whole && placed && !packets.empty() &&
            readsStraightThrough(fmt.get())) {
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
    std::vector<IndexEntry> entries =
        timedByPlace(taken, order->finish(), av_rescale_q(1, av_inv_q(rate), timeBase));
    for (const IndexEntry &e : entries) {
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
