// What the Matroska bytes say, read from the very bytes libavformat reads
// (source_file hands every read over), so that a pipe and a file give the
// same answers and nothing is read twice.
//
// libavformat rounds some header values (the default frame duration, to
// the timestamp scale), does not say which track entry a stream comes
// from, gives no time to a block before zero, and passes over blocks it
// cannot use without a word (an empty frame, a block of another track too
// short to read, which makes it skip the rest of the cluster). The scan
// follows the element structure as the bytes go by: the EBML header, Info
// and Tracks in full, and of every block in the clusters its head (track,
// timestamp, flags) and where it lies. It never reads frame data.
#pragma once

#include "source/matroska_head.hpp"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace mp {

// One block as stored (a SimpleBlock, or the Block of a BlockGroup).
struct ScannedBlock {
    uint64_t pos = 0;  // offset of the block's data, as libavformat gives its packets
    uint64_t end = 0;  // offset just past the block's element
    uint64_t track = 0;
    // Cluster timestamp plus the block's own, in timestamp-scale ticks;
    // none before any cluster timestamp.
    std::optional<int64_t> ticks;
    std::optional<uint64_t> duration_ticks;  // a BlockDuration, when stored (0 included)
    uint64_t frame_bytes = 0;                // after the block's head; 0 is an empty frame
    int frames = 1;                          // more when laced
    bool readable = true;                    // the head fits inside the element
};

class MatroskaScan {
public:
    // Bytes of the source at `offset`, as they are read. Bytes before the
    // point the scan has reached are seen already; bytes after it (a seek
    // ahead) are left for when the reading comes back.
    void feed(uint64_t offset, const uint8_t* data, size_t size);

    // Whether the source began with an EBML header.
    bool matroska() const { return matroska_; }
    const MatroskaHead& head() const { return head_; }
    // Whether the scan has reached the first cluster: the header, as
    // libavformat reads it, ends there.
    bool in_clusters() const { return in_clusters_; }

    // Blocks found and not yet taken, in storage order.
    std::deque<ScannedBlock>& blocks() { return blocks_; }

    // The scan lost the structure (damage it does not step over): it has
    // found no block past scanned_to().
    bool stopped() const { return stopped_; }
    uint64_t scanned_to() const { return at_; }

private:
    enum class Step { Header, Collect, Value, BlockHead };
    struct Open {
        uint32_t id;
        uint64_t end;  // ebml::kUnknownSize: runs to the end of its parent
    };

    // How many bytes the current step needs in held_; 0 when it cannot be
    // read (an invalid length marker).
    size_t bytes_wanted() const;
    void take_element();
    void enter(uint32_t id, uint64_t data, uint64_t size);
    void finish_item();
    void close_elements();
    void read_block_head();
    void stop() { stopped_ = true; }

    bool matroska_ = false;
    bool stopped_ = false;
    uint64_t at_ = 0;  // offset of the next byte the scan needs
    Step step_ = Step::Header;
    std::vector<uint8_t> held_;  // the bytes of the current step
    uint32_t item_id_ = 0;
    uint64_t item_data_ = 0;
    uint64_t item_size_ = 0;
    std::vector<Open> open_;  // masters entered, outermost first
    bool in_clusters_ = false;
    std::optional<int64_t> cluster_ticks_;
    std::optional<ScannedBlock> group_block_;
    std::optional<uint64_t> group_duration_;
    MatroskaHead head_;
    std::deque<ScannedBlock> blocks_;
};

}  // namespace mp
