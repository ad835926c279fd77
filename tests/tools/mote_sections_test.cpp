// Sections for several motes: each named mote gets the section's streams
// and operators, with the lines they were written on; `all` covers the
// network however its size is given; mistakes point at their line.

#include "queryfile/mote_sections.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace query_file {
namespace {

std::vector<uint16_t> motes_of(const QueryDecl& q) {
  std::vector<uint16_t> motes;
  for (const MotePart& p : q.motes) motes.push_back(p.mote);
  return motes;
}

// The file read, with its sections made into parts; the errors of both steps.
ParseResult read(const std::string& text) {
  ParseResult r = parse(text, "q.query");
  for (Diagnostic& d : expand_sections(r.file)) r.errors.push_back(d);
  return r;
}

std::vector<std::string> errors_of(const std::string& text) {
  std::vector<std::string> out;
  for (const Diagnostic& d : read(text).errors) out.push_back(format(d));
  return out;
}

const std::string sender =
    "  stream light = sensor light every 1\n"
    "  stream up = remote 9 to 0\n"
    "  send light -> up\n";

TEST(MoteSections, EveryListedMoteGetsTheStatementsWithTheirLines) {
  ParseResult r = read("query 1\non motes 1,3,5-7\n" + sender);
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  const QueryDecl& q = r.file.queries[0];
  EXPECT_EQ(motes_of(q), (std::vector<uint16_t>{1, 3, 5, 6, 7}));
  for (const MotePart& p : q.motes) {
    EXPECT_EQ(p.line, 2);
    ASSERT_EQ(p.streams.size(), 2u);
    EXPECT_EQ(p.streams[1].name, "up");
    EXPECT_EQ(p.streams[1].line, 4);
    EXPECT_EQ(p.streams[1].to, 0);
    ASSERT_EQ(p.operators.size(), 1u);
    EXPECT_EQ(p.operators[0].line, 5);
  }
  // Spaces after the commas read the same.
  ParseResult spaced = read("query 1\non motes 1, 3, 5-7\n" + sender);
  EXPECT_EQ(motes_of(spaced.file.queries[0]), motes_of(q));
}

TEST(MoteSections, AllCoversTheNetworkGivenOrComputed) {
  ParseResult given = read("motes 5\nquery 1\non motes all except 0\n" + sender);
  ASSERT_TRUE(given.errors.empty()) << format(given.errors[0]);
  EXPECT_EQ(motes_of(given.file.queries[0]), (std::vector<uint16_t>{1, 2, 3, 4}));

  // Without `motes`, the network reaches the highest mote named elsewhere
  // (here mote 3, which a stream goes to), as the compiler reckons it.
  ParseResult computed = read(
      "query 1\non mote 3\n  stream down = remote 8\non motes all except 3\n"
      "  stream l = sensor light every 1\n  stream up = remote 8 to 3\n  send l -> up\n");
  ASSERT_TRUE(computed.errors.empty()) << format(computed.errors[0]);
  EXPECT_EQ(motes_of(computed.file.queries[0]), (std::vector<uint16_t>{3, 0, 1, 2}));
  EXPECT_EQ(network_size(computed.file), 4);

  ParseResult every = read("motes 3\nquery 1\non motes all\n  stream l = local\n");
  EXPECT_EQ(motes_of(every.file.queries[0]), (std::vector<uint16_t>{0, 1, 2}));
}

TEST(MoteSections, ASectionAndAnOnMoteSectionBuildOnePartInLineOrder) {
  ParseResult r = read(
      "motes 3\nquery 1\non motes all except 0\n  stream l = sensor light every 1\n"
      "on mote 2\n  stream extra = local\non motes 1-2\n  send l -> extra\n");
  ASSERT_TRUE(r.errors.empty()) << format(r.errors[0]);
  const QueryDecl& q = r.file.queries[0];
  ASSERT_EQ(motes_of(q), (std::vector<uint16_t>{1, 2}));
  const MotePart& two = q.motes[1];
  ASSERT_EQ(two.streams.size(), 2u);
  EXPECT_EQ(two.streams[0].name, "l");  // line 4 before line 6
  EXPECT_EQ(two.streams[1].name, "extra");
  EXPECT_EQ(two.operators.size(), 1u);
  EXPECT_EQ(two.line, 3);
}

TEST(MoteSections, MistakesPointAtTheirLine) {
  auto one_error = [](const std::string& text, const std::string& expected) {
    std::vector<std::string> errors = errors_of(text);
    ASSERT_EQ(errors.size(), 1u) << text;
    EXPECT_EQ(errors[0], expected);
  };
  one_error("query 1\non motes 5-2\n", "q.query:2: the range '5-2' runs backwards");
  one_error("query 1\non motes 1,,2\n",
            "q.query:2: the mote list '1,,2' has an empty item (write e.g. 1,3,5-9)");
  one_error("query 1\non motes all but 0\n",
            "q.query:2: unexpected 'but' after 'all' (all, or all except LIST)");
  one_error("query 1\non motes all except\n", "q.query:2: missing the motes left out after 'except'");
  one_error("on motes 1-3\n", "q.query:1: 'on motes' outside a query; begin one with 'query ID'");
  // A mote of the section is the stream's own destination: said once.
  one_error("motes 4\nquery 1\non motes all\n" + sender,
            "q.query:5: remote stream 9 goes to mote 0, which is one of the motes of this "
            "section: a mote does not send to itself (leave it out, e.g. 'on motes all except 0')");
  // The same name in a section and in the part it continues.
  one_error("query 1\non mote 2\n  stream l = local\non motes 1-3\n  stream l = local\n",
            "q.query:5: stream 'l' is already declared on mote 2 (line 3)");
  one_error("query 1\non motes 1-3\n  stream l = local\n  stream l = local\n",
            "q.query:4: stream 'l' is already declared on motes 1-3 (line 3)");
}

}  // namespace
}  // namespace query_file
