#pragma once
// The outputs asked for with -w, written after the result: the mesh files,
// the LAS file of the kept nodes, and with a mesh the fit report
// (prefix.fit.csv and one console line).

#include <memory>
#include <optional>
#include <string>

#include "io/textout.hpp"
#include "mesh/tin_mesh.hpp"
#include "run/fit_report.hpp"
#include "run/settings.hpp"
#include "run/tile_engine.hpp"

namespace krel {

// Whether an output of the run asks for the mesh (any -w but LAS).
[[nodiscard]] bool wants_mesh(const RunSettings& settings);

class RunOutputs {
public:
    explicit RunOutputs(const RunSettings& settings);
    ~RunOutputs();
    RunOutputs(const RunOutputs&) = delete;
    RunOutputs& operator=(const RunOutputs&) = delete;

    // The first output name (-w, or the fit report's) that names an input
    // file, the result, the listing or an earlier output (the same name, or
    // the same file under another), nullopt when there is none.
    [[nodiscard]] std::optional<std::string> clash(const std::string& result_name) const;

    // Before the tiles: where the fit report keeps the filtered points.
    void start(const std::string& result_name);
    // Each tile's result, in tile order.
    void take(const TileResult& r);
    // After the summary: writes every output in command-line order (each to
    // a temporary file put in place when complete), then the fit report.
    // Throws io::IoError.
    void finish(double xorig, double yorig, io::TextOut& console);

private:
    const RunSettings& s_;
    mesh::Nodes nodes_;                  // kept nodes, result order
    std::unique_ptr<FitReport> fit_;     // with a mesh only
};

}  // namespace krel
