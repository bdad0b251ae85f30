#include "run/outputs.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <vector>

#include "io/fortran.hpp"
#include "io/las.hpp"
#include "io/las_out.hpp"
#include "io/mesh_files.hpp"
#include "run/result_file.hpp"

namespace krel {

bool wants_mesh(const RunSettings& s) {
    return std::any_of(s.outputs.begin(), s.outputs.end(),
                       [](const std::string& name) { return io::output_kind(name) != io::OutputKind::las; });
}

namespace {

std::string prefixed(const std::string& prefix, std::string_view ext) {
    return held_name(std::string(io::trim_right(prefix.substr(0, kNameChars))) + std::string(ext));
}

bool same_file(const std::string& a, const std::string& b) {
    if (a == b) return true;
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string folder_of(const std::string& name) {
    const auto slash = name.rfind('/');
    return slash == std::string::npos ? std::string{} : name.substr(0, slash);
}

// Writes one file through a temporary one beside it.
template <class Fill>
void write_safely(const std::string& name, Fill fill) {
    ResultFile file;
    file.open(name);
    fill([&](std::string_view bytes) { file.write(bytes); });
    file.commit();
}

}  // namespace

RunOutputs::RunOutputs(const RunSettings& settings) : s_(settings) {}

RunOutputs::~RunOutputs() = default;

std::optional<std::string> RunOutputs::clash(const std::string& result_name) const {
    std::vector<std::string> names = s_.outputs;
    if (wants_mesh(s_)) names.push_back(prefixed(s_.prefix, ".fit.csv"));
    std::vector<std::string> taken = s_.cfile;
    if (s_.hull_given) taken.push_back(s_.chull);
    taken.push_back(result_name);
    taken.push_back(prefixed(s_.prefix, ".err"));
    for (const std::string& name : names) {
        for (const std::string& other : taken)
            if (same_file(name, other)) return name;
        taken.push_back(name);
    }
    return std::nullopt;
}

void RunOutputs::start(const std::string& result_name) {
    if (wants_mesh(s_)) fit_ = std::make_unique<FitReport>(folder_of(result_name));
}

void RunOutputs::take(const TileResult& r) {
    for (std::size_t i = 0; i + 2 < r.kept.size(); i += 3) nodes_.push(r.kept[i], r.kept[i + 1], r.kept[i + 2]);
    if (fit_) fit_->add_tile(r.tile, r.npt, r.filtered);
}

void RunOutputs::finish(double xorig, double yorig, io::TextOut& console) {
    if (s_.outputs.empty()) return;
    std::unique_ptr<mesh::Mesh> mesh;
    if (fit_) {
        mesh::Clip clip;
        clip.hull = s_.hull_given ? &s_.hull : nullptr;
        clip.xorig = xorig;
        clip.yorig = yorig;
        clip.max_edge = s_.max_edge;
        mesh = std::make_unique<mesh::Mesh>(nodes_, clip);
    }
    std::optional<io::LasFrame> frame;
    for (const std::string& name : s_.outputs) {
        const io::OutputKind kind = *io::output_kind(name);
        if (kind == io::OutputKind::las) {
            if (!frame) {
                frame = io::default_las_frame(xorig, yorig);
                for (const std::string& input : s_.cfile) {
                    if (io::is_las_file(input)) {
                        frame = io::read_las_frame(input);
                        break;
                    }
                }
            }
            write_safely(name, [&](const io::ByteOut& out) {
                io::write_las(*frame, nodes_.x, nodes_.y, nodes_.z, xorig, yorig, name, out);
            });
        } else {
            const io::MeshView view{nodes_.x, nodes_.y, nodes_.z, xorig, yorig, mesh->triangles()};
            write_safely(name, [&](const io::ByteOut& out) { io::write_mesh(kind, view, out); });
        }
    }
    if (fit_) {
        FitStats run;
        write_safely(prefixed(s_.prefix, ".fit.csv"), [&](const io::ByteOut& out) { run = fit_->finish(*mesh, out); });
        console.put(fit_line(static_cast<std::int64_t>(mesh->triangles().size()), run));
    }
}

}  // namespace krel
