// brelo-ctl topology: writes a lossy-link file from a placement of motes.

#include <fstream>
#include <sstream>

#include "ctl/arguments.hpp"
#include "ctl/verbs/all.hpp"
#include "protocol/limits.hpp"
#include "topology/lossy_file.hpp"
#include "topology/placement.hpp"

namespace brelo_ctl {
namespace {
using topology::Position;

const Option grid{.name = "--grid",
                  .kind = Option::Kind::text,
                  .value = "COLSxROWS",
                  .help = "motes on a grid, mote c + r*COLS in column c of row r"};
const Option spacing{.name = "--spacing",
                     .kind = Option::Kind::number,
                     .value = "METRES",
                     .help = "the grid's spacing (default 10)",
                     .low = 0.001,
                     .high = 1e6,
                     .complaint = "--spacing takes a distance in metres, more than 0"};
const Option random{.name = "--random",
                    .kind = Option::Kind::integer,
                    .value = "N",
                    .help = "N motes placed at random in --area",
                    .whole_low = 1,
                    .whole_high = protocol::MAX_MOTES,
                    .complaint = "--random takes a number of motes from 1 to 1000"};
const Option area{.name = "--area",
                  .kind = Option::Kind::text,
                  .value = "WxH",
                  .help = "the area of --random, in metres (such as 100x50)"};
const Option seed{.name = "--seed",
                  .kind = Option::Kind::integer,
                  .value = "S",
                  .help = "the seed of --random (default 1)",
                  .whole_low = 0,
                  .whole_high = 4294967295,
                  .complaint = "--seed takes a number from 0 to 4294967295"};
const Option from{.name = "--from",
                  .kind = Option::Kind::text,
                  .value = "FILE",
                  .help = "positions from FILE, a line 'mote x y' per mote"};
const Option near{.name = "--near",
                  .kind = Option::Kind::number,
                  .value = "METRES",
                  .help = "links are perfect up to this distance (default 15)",
                  .low = 0,
                  .high = 1e6,
                  .complaint = "--near takes a distance in metres"};
const Option far{.name = "--far",
                 .kind = Option::Kind::number,
                 .value = "METRES",
                 .help = "and from this distance on there is none (default 30)",
                 .low = 0.001,
                 .high = 1e6,
                 .complaint = "--far takes a distance in metres, more than 0"};
const Option out{.name = "--out",
                 .kind = Option::Kind::text,
                 .value = "FILE",
                 .help = "write the links to FILE (default: standard output)"};
const Option positions{.name = "--positions",
                       .kind = Option::Kind::text,
                       .value = "FILE",
                       .help = "also write the placement to FILE ('mote x y' lines)"};

// "10x5" -> {10, 5}, each within [low, high].
std::pair<double, double> two_numbers(const std::string& text, double low, double high,
                                      const std::string& why) {
  std::size_t x = text.find('x');
  if (x == std::string::npos) throw UsageError{why};
  auto first = parse_number(text.substr(0, x), low, high);
  auto second = parse_number(text.substr(x + 1), low, high);
  if (!first || !second) throw UsageError{why};
  return {*first, *second};
}

std::vector<Position> grid_positions(const Invocation& call) {
  const std::string why = "--grid takes COLSxROWS, whole numbers, such as 10x10 (at most 1000 motes)";
  auto [columns, rows] = two_numbers(*call.text(grid), 1, protocol::MAX_MOTES, why);
  if (columns != static_cast<int>(columns) || rows != static_cast<int>(rows) ||
      columns * rows > protocol::MAX_MOTES) {
    throw UsageError{why};
  }
  return topology::grid_placement(static_cast<int>(columns), static_cast<int>(rows),
                                  call.number(spacing).value_or(10.0));
}

std::vector<Position> random_positions(const Invocation& call) {
  if (!call.has(area)) throw UsageError{"--random needs --area WxH"};
  auto [width, height] =
      two_numbers(*call.text(area), 0, 1e6, "--area takes WxH in metres, such as 100x50");
  auto motes = static_cast<int>(*call.integer(random));
  auto draw_seed = static_cast<uint32_t>(call.integer(seed).value_or(1));
  return topology::random_placement(motes, width, height, draw_seed);
}

// The placement of a positions file; its mistakes are reported with their lines.
std::optional<std::vector<Position>> file_positions(const Invocation& call) {
  const std::string path = *call.text(from);
  std::ifstream in(path);
  if (!in) throw UsageError{"cannot read " + path};
  std::stringstream text;
  text << in.rdbuf();
  topology::PlacementRead read = topology::read_placement(text.str(), path);
  if (read.errors.empty()) return std::move(read.positions);
  for (const topology::FileError& e : read.errors) *call.err << topology::format(e) << "\n";
  return std::nullopt;
}

bool write_file(const Invocation& call, const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (file) return true;
  *call.err << program << ": cannot write " << path << "\n";
  return false;
}

int make_topology(Invocation& call) {
  int placements = call.has(grid) + call.has(random) + call.has(from);
  if (placements != 1) throw UsageError{"give one placement: --grid, --random or --from"};
  if (call.has(spacing) && !call.has(grid)) throw UsageError{"--spacing goes with --grid"};
  if ((call.has(area) || call.has(seed)) && !call.has(random)) {
    throw UsageError{"--area and --seed go with --random"};
  }
  topology::DistanceModel model;
  model.near = call.number(near).value_or(model.near);
  model.far = call.number(far).value_or(model.far);
  if (model.far <= model.near) throw UsageError{"--far must be more than --near"};

  std::vector<Position> placed;
  if (call.has(grid)) {
    placed = grid_positions(call);
  } else if (call.has(random)) {
    placed = random_positions(call);
  } else {
    auto read = file_positions(call);
    if (!read) return EXIT_USAGE;
    placed = std::move(*read);
  }

  std::string links = topology::lossy_file_text(placed, model);
  if (links.empty()) {
    // brelo-ctl run refuses such a file; say so while the options are at hand.
    *call.err << program << ": warning: no two motes are closer than --far, so the file has no"
              << " links\n";
  }
  if (auto path = call.text(positions)) {
    if (!write_file(call, *path, topology::placement_text(placed))) return EXIT_USAGE;
  }
  if (auto path = call.text(out)) {
    if (!write_file(call, *path, links)) return EXIT_USAGE;
  } else {
    *call.out << links;
  }
  return EXIT_DONE;
}
}  // namespace

Verb topology_verb() {
  return {.name = "topology",
          .summary = "write a lossy-link file for a placement of motes",
          .usage =
              "usage: brelo-ctl topology (--grid COLSxROWS [--spacing METRES]\n"
              "                          | --random N --area WxH [--seed S] | --from FILE)\n"
              "                          [--near METRES] [--far METRES] [--out FILE]\n"
              "                          [--positions FILE]\n"
              "Places the motes, and writes the file of links that brelo's lossy radio\n"
              "model reads (brelo -rf=FILE, brelo-ctl run --topology FILE): for every\n"
              "pair, both ways, the probability that a bit arrives flipped, by distance d:\n"
              "0 up to --near, 3t^2 - 2t^3 with t = (d - near) / (far - near) beyond it,\n"
              "and no link at all from --far on (see docs/topology.md). Needs no\n"
              "simulator.\n",
          .options = {grid, spacing, random, area, seed, from, near, far, out, positions},
          .help_column = 18,
          .notes = "Exit status 2 when the command line or the positions file is wrong\n"
                   "(each mistake of the file reported as FILE:LINE).\n",
          .min_words = 0,
          .max_words = 0,
          .run = make_topology};
}

}  // namespace brelo_ctl
