#pragma once
// Inside the point reader: one pass over the point files, shared by the
// reading in one piece (getpoints.cpp) and the reading in chunks side by side
// (chunked.cpp). Not for use outside src/io.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/fields.hpp"
#include "io/fortran.hpp"
#include "io/getpoints.hpp"

namespace krel::io::detail {

// Records between two progress lines of a pass.
constexpr std::int64_t kProgressRecords = 100001;

enum class Layout { node_list, comma, plain };

class Pass {
public:
    Pass(PassMode mode, const ReadSettings& s, NodeArrays* nodes, TextOut& console, TextOut& warnings)
        : mode_(mode), s_(s), nodes_(nodes), console_(console), warnings_(warnings),
          capacity_(mode == PassMode::load ? nodes->capacity : 0) {}

    std::int64_t run();

private:
    struct Chunk;

    // getpoints.cpp: the reading in one piece.
    void read_file(const std::string& name, std::size_t index);
    void read_records(LineSource& src, Layout layout, std::int64_t count);
    void read_las(const std::string& name, std::size_t index);
    [[nodiscard]] std::vector<unsigned char>* records_to_keep(const LasFile& file, std::size_t index) const;
    [[nodiscard]] bool ahead() const { return s_.threads > 1; }  // decompress on a helper thread
    void take(double x, double y, float z);
    void progress();

    // chunked.cpp: a large plain or comma file read in chunks side by side.
    // false: read it in one piece instead; nothing has been printed or
    // counted then.
    bool read_chunked(const std::string& name, std::size_t index, Layout layout);
    bool plan_chunks(ChunkPlan& plan, std::int64_t size) const;
    bool parse_chunks(const std::string& name, std::vector<Chunk>& chunks, Layout layout) const;
    void parse_chunk(const std::string& name, Chunk& c, Layout layout) const;
    void replay_chunks(const std::vector<Chunk>& chunks, ChunkPlan& plan);
    bool set_origin(const std::string& name, Layout layout);
    void advance_records(std::int64_t target);

    // The fields a record of the layout holds, and x, y, z among them.
    [[nodiscard]] std::vector<FieldType> record_types(Layout layout) const;
    // x and y are only checked where nothing reads them (explore without a hull).
    [[nodiscard]] FieldType xy_type() const {
        return mode_ == PassMode::explore && s_.hull == nullptr ? FieldType::checked : FieldType::real64;
    }
    void xyz_of(const std::vector<FieldValue>& v, Layout layout, double& x, double& y, float& z) const;

    // A column selection beyond this many columns reads the other fields
    // without keeping them: -c takes columns up to 21,474,836, and room for
    // each would cost memory and time that no input justifies.
    static constexpr std::int32_t kDenseColumns = 64;
    struct Sparse {
        std::vector<std::size_t> at;   // selected positions (0-based), each once
        std::vector<FieldType> types;  // their types
        std::size_t x = 0, y = 0, z = 0;  // x, y and z among them
    };
    [[nodiscard]] bool sparse(Layout layout) const { return layout == Layout::plain && s_.icolmax > kDenseColumns; }
    [[nodiscard]] Sparse sparse_columns() const;

    // The record loop of every text reading. Before each read, before() may
    // end the loop (false); a record that cannot be read goes to bad(), a
    // good one to good(x, y, z), which may end the loop (false). Returns
    // whether the read that met the end of src had begun a record.
    template <class Before, class Bad, class Good>
    bool each_record(LineSource& src, Layout layout, Before before, Bad bad, Good good) const {
        const bool few = sparse(layout);
        const std::vector<FieldType> types = few ? std::vector<FieldType>{} : record_types(layout);
        const Sparse cols = few ? sparse_columns() : Sparse{};
        std::vector<FieldValue> v(few ? cols.at.size() : types.size());
        for (;;) {
            if (!before()) return false;
            bool partial = false;
            const RecordStatus st =
                few ? read_sparse_record(src, static_cast<std::size_t>(s_.icolmax), xy_type(), cols.at, cols.types, v,
                                         &partial)
                    : read_record(src, types, v, &partial);
            if (st == RecordStatus::end) return partial;
            if (st == RecordStatus::bad) {
                bad();
                continue;
            }
            double x, y;
            float z;
            if (few) {
                x = v[cols.x].d;
                y = v[cols.y].d;
                z = static_cast<float>(v[cols.z].d);
            } else {
                xyz_of(v, layout, x, y, z);
            }
            if (!good(x, y, z)) return false;
        }
    }

    // The z range (inclusive) and the hull.
    [[nodiscard]] bool passes(double x, double y, float z) const {
        if (s_.ztmin > z || z > s_.ztmax) return false;
        return s_.hull == nullptr || inside_hull(*s_.hull, x, y);
    }

    // The in-place progress text after `records` records with `value` points.
    [[nodiscard]] std::string progress_text(std::int64_t value, std::int64_t records) const;

    void error_line(std::int64_t line) {
        console_.put(FreeLine{}.text("***error reading line ").num(line).str());
    }

    PassMode mode_;
    const ReadSettings& s_;
    NodeArrays* nodes_;
    TextOut& console_;
    TextOut& warnings_;
    std::int64_t capacity_;
    std::int64_t n_ = 0;
    std::int64_t lines_ = 0;    // raised for each first line and before each record read
    std::int64_t records_ = 0;  // records read without error
    std::string path_;          // the file read for the current input: itself or a stream's kept copy
};

}  // namespace krel::io::detail
