#include "io/mesh_files.hpp"

#include <cstring>
#include <string>

#include "io/fortran.hpp"

namespace krel::io {

namespace {

constexpr std::size_t kPiece = std::size_t{1} << 20;  // bytes handed to out at a time

std::string_view trim_left_view(std::string_view t) {
    const auto first = t.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : t.substr(first);
}

// Fixed three decimals without padding, as F.3 rounds.
void fixed3(std::string& s, double v) {
    const std::string f = format_f(v, 24, 3);
    s += trim_left_view(f);
}

class Writer {
public:
    explicit Writer(const ByteOut& out) : out_(out) { buf_.reserve(kPiece + 256); }
    ~Writer() = default;
    std::string& buf() { return buf_; }
    void maybe_flush() {
        if (buf_.size() >= kPiece) flush();
    }
    void flush() {
        if (!buf_.empty()) out_(buf_);
        buf_.clear();
    }
    template <class T>
    void raw(T v) {
        char b[sizeof v];
        std::memcpy(b, &v, sizeof v);  // little-endian host
        buf_.append(b, sizeof v);
    }

private:
    const ByteOut& out_;
    std::string buf_;
};

double abs_x(const MeshView& m, std::size_t i) { return static_cast<double>(m.x[i]) + m.xorig; }
double abs_y(const MeshView& m, std::size_t i) { return static_cast<double>(m.y[i]) + m.yorig; }

// "x y z" with three decimals, in the given order of the three.
void xyz(std::string& s, double a, double b, double c) {
    fixed3(s, a);
    s += ' ';
    fixed3(s, b);
    s += ' ';
    fixed3(s, c);
}

void ply(const MeshView& m, Writer& w) {
    std::string& s = w.buf();
    s += "ply\nformat binary_little_endian 1.0\ncomment krel 3.12\nelement vertex " + std::to_string(m.x.size()) +
         "\nproperty double x\nproperty double y\nproperty double z\nelement face " +
         std::to_string(m.triangles.size()) + "\nproperty list uchar int vertex_indices\nend_header\n";
    for (std::size_t i = 0; i < m.x.size(); ++i) {
        w.raw(abs_x(m, i));
        w.raw(abs_y(m, i));
        w.raw(static_cast<double>(m.z[i]));
        w.maybe_flush();
    }
    for (const auto& t : m.triangles) {
        w.raw(std::uint8_t{3});
        for (std::int32_t v : t) w.raw(v);
        w.maybe_flush();
    }
}

void obj(const MeshView& m, Writer& w) {
    std::string& s = w.buf();
    s += "# krel 3.12: " + std::to_string(m.x.size()) + " vertices, " + std::to_string(m.triangles.size()) +
         " triangles\n";
    for (std::size_t i = 0; i < m.x.size(); ++i) {
        s += "v ";
        xyz(s, abs_x(m, i), abs_y(m, i), m.z[i]);
        s += '\n';
        w.maybe_flush();
    }
    for (const auto& t : m.triangles) {
        s += "f " + std::to_string(t[0] + 1) + ' ' + std::to_string(t[1] + 1) + ' ' + std::to_string(t[2] + 1) + '\n';
        w.maybe_flush();
    }
}

void twodm(const MeshView& m, Writer& w) {
    std::string& s = w.buf();
    s += "MESH2D\nMESHNAME \"krel\"\n";
    std::int64_t id = 0;
    for (const auto& t : m.triangles) {
        // Material 1 for every element.
        s += "E3T " + std::to_string(++id) + ' ' + std::to_string(t[0] + 1) + ' ' + std::to_string(t[1] + 1) + ' ' +
             std::to_string(t[2] + 1) + " 1\n";
        w.maybe_flush();
    }
    for (std::size_t i = 0; i < m.x.size(); ++i) {
        s += "ND " + std::to_string(i + 1) + ' ';
        xyz(s, abs_x(m, i), abs_y(m, i), m.z[i]);
        s += '\n';
        w.maybe_flush();
    }
}

void msh(const MeshView& m, Writer& w) {
    std::string& s = w.buf();
    s += "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n" + std::to_string(m.x.size()) + '\n';
    for (std::size_t i = 0; i < m.x.size(); ++i) {
        s += std::to_string(i + 1) + ' ';
        xyz(s, abs_x(m, i), abs_y(m, i), m.z[i]);
        s += '\n';
        w.maybe_flush();
    }
    s += "$EndNodes\n$Elements\n" + std::to_string(m.triangles.size()) + '\n';
    std::int64_t id = 0;
    for (const auto& t : m.triangles) {
        // Type 2 (3-node triangle), two tags: physical group 1, entity 1.
        s += std::to_string(++id) + " 2 2 1 1 " + std::to_string(t[0] + 1) + ' ' + std::to_string(t[1] + 1) + ' ' +
             std::to_string(t[2] + 1) + '\n';
        w.maybe_flush();
    }
    s += "$EndElements\n";
}

void landxml(const MeshView& m, Writer& w) {
    std::string& s = w.buf();
    // The schema requires a date and a time; a fixed one keeps the bytes the
    // same from run to run.
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<LandXML xmlns=\"http://www.landxml.org/schema/LandXML-1.2\" version=\"1.2\" date=\"1970-01-01\" "
         "time=\"00:00:00\">\n"
         "  <Units>\n"
         "    <Metric linearUnit=\"meter\" areaUnit=\"squareMeter\" volumeUnit=\"cubicMeter\" "
         "angularUnit=\"decimal degrees\" directionUnit=\"decimal degrees\"/>\n"
         "  </Units>\n"
         "  <Application name=\"krel\" version=\"3.12\"/>\n"
         "  <Surfaces>\n"
         "    <Surface name=\"krel\">\n"
         "      <Definition surfType=\"TIN\">\n"
         "        <Pnts>\n";
    for (std::size_t i = 0; i < m.x.size(); ++i) {
        // Northing first, then easting.
        s += "          <P id=\"" + std::to_string(i + 1) + "\">";
        xyz(s, abs_y(m, i), abs_x(m, i), m.z[i]);
        s += "</P>\n";
        w.maybe_flush();
    }
    s += "        </Pnts>\n        <Faces>\n";
    for (const auto& t : m.triangles) {
        s += "          <F>" + std::to_string(t[0] + 1) + ' ' + std::to_string(t[1] + 1) + ' ' +
             std::to_string(t[2] + 1) + "</F>\n";
        w.maybe_flush();
    }
    s += "        </Faces>\n      </Definition>\n    </Surface>\n  </Surfaces>\n</LandXML>\n";
}

}  // namespace

std::optional<OutputKind> output_kind(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string ext(name.substr(dot + 1));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == "ply") return OutputKind::ply;
    if (ext == "obj") return OutputKind::obj;
    if (ext == "2dm") return OutputKind::twodm;
    if (ext == "msh") return OutputKind::msh;
    if (ext == "xml") return OutputKind::landxml;
    if (ext == "las") return OutputKind::las;
    return std::nullopt;
}

void write_mesh(OutputKind kind, const MeshView& mesh, const ByteOut& out) {
    Writer w(out);
    switch (kind) {
    case OutputKind::ply: ply(mesh, w); break;
    case OutputKind::obj: obj(mesh, w); break;
    case OutputKind::twodm: twodm(mesh, w); break;
    case OutputKind::msh: msh(mesh, w); break;
    case OutputKind::landxml: landxml(mesh, w); break;
    case OutputKind::las: break;  // not a mesh: see las_out
    }
    w.flush();
}

}  // namespace krel::io
