#include "queryfile/mote_sections.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "queryfile/statement_words.hpp"

namespace query_file {
namespace {

uint16_t mote_id(const std::string& word) {
  Words one({word});
  return one.mote("a mote id");
}

// The part of `q` for `mote`, made at the end when there is none yet.
MotePart& part_for(QueryDecl& q, uint16_t mote, int line) {
  for (MotePart& p : q.motes) {
    if (p.mote == mote) return p;
  }
  q.motes.push_back(MotePart{line, mote, {}, {}});
  return q.motes.back();
}

// Adds the statements of `section` to the part of mote `mote`. Problems
// that only show for one mote are reported once per statement line.
void add_to_part(QueryDecl& q, const MoteSection& section, uint16_t mote,
                 const std::string& file_name, std::set<int>& reported,
                 std::vector<Diagnostic>& errors) {
  MotePart& p = part_for(q, mote, section.part.line);
  p.line = std::min(p.line, section.part.line);
  for (const StreamDecl& s : section.part.streams) {
    if (s.kind == StreamKind::remote_out && s.to == mote) {
      if (reported.insert(s.line).second) {
        errors.push_back({file_name, s.line,
                          "remote stream " + std::to_string(s.remote_name) + " goes to mote " +
                              std::to_string(mote) + ", which is one of the motes of this " +
                              "section: a mote does not send to itself (leave it out, e.g. " +
                              "'on motes all except " + std::to_string(mote) + "')"});
      }
      continue;
    }
    auto same = std::find_if(p.streams.begin(), p.streams.end(),
                             [&](const StreamDecl& other) { return other.name == s.name; });
    if (same != p.streams.end()) {
      errors.push_back({file_name, s.line,
                        "stream " + quoted(s.name) + " is already declared on mote " +
                            std::to_string(mote) + " (line " + std::to_string(same->line) + ")"});
      continue;
    }
    p.streams.push_back(s);
  }
  for (const OperatorDecl& o : section.part.operators) p.operators.push_back(o);
}

// Statements, and parts, in the order they were written; the motes of one
// section in ascending order.
void order_by_line(QueryDecl& q) {
  auto by_line = [](const auto& a, const auto& b) { return a.line < b.line; };
  for (MotePart& p : q.motes) {
    std::stable_sort(p.streams.begin(), p.streams.end(), by_line);
    std::stable_sort(p.operators.begin(), p.operators.end(), by_line);
  }
  std::stable_sort(q.motes.begin(), q.motes.end(), [](const MotePart& a, const MotePart& b) {
    return a.line != b.line ? a.line < b.line : a.mote < b.mote;
  });
}

// Where a text names a mote ("mote 12", not "remote 12").
struct MoteMention {
  std::size_t at;
  std::size_t length;
  int mote;
};
std::vector<MoteMention> mote_mentions(const std::string& text) {
  std::vector<MoteMention> found;
  for (std::size_t i = text.find("mote "); i != std::string::npos; i = text.find("mote ", i + 1)) {
    if (i > 0 && std::isalpha(static_cast<unsigned char>(text[i - 1]))) continue;
    std::size_t end = i + 5;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    if (end == i + 5) continue;
    found.push_back({i, end - i, std::stoi(text.substr(i + 5, end - i - 5))});
  }
  return found;
}

// The text with every mote it names left out: equal for findings that
// differ only in their motes.
std::string without_motes(const std::string& text, const std::vector<MoteMention>& mentions) {
  std::string shape;
  std::size_t from = 0;
  for (const MoteMention& m : mentions) {
    shape.append(text, from, m.at - from);
    shape += "mote #";
    from = m.at + m.length;
  }
  shape.append(text, from);
  return shape;
}

// "1-3,5,7-9"
std::string compact(const std::set<int>& motes) {
  std::string text;
  for (auto i = motes.begin(); i != motes.end();) {
    int first = *i, last = *i;
    for (++i; i != motes.end() && *i == last + 1; ++i) last = *i;
    if (!text.empty()) text += ",";
    text += std::to_string(first);
    if (last > first) text += "-" + std::to_string(last);
  }
  return text;
}

}  // namespace

std::set<int> section_lines(const QueryFile& file) {
  std::set<int> lines;
  for (const MoteSection& section : file.sections) {
    lines.insert(section.part.line);
    for (const StreamDecl& s : section.part.streams) lines.insert(s.line);
    for (const OperatorDecl& o : section.part.operators) lines.insert(o.line);
  }
  return lines;
}

void fold_per_mote(std::vector<Diagnostic>& list, const std::set<int>& lines) {
  struct Group {
    std::size_t first;                    // index in `list`
    std::vector<std::set<int>> motes;     // per mention, the motes named there
  };
  std::map<std::pair<int, std::string>, Group> groups;
  std::vector<std::pair<int, std::string>> keys;  // per finding
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::vector<MoteMention> mentions = mote_mentions(list[i].text);
    std::pair<int, std::string> key{list[i].line, without_motes(list[i].text, mentions)};
    keys.push_back(key);
    auto [g, fresh] = groups.try_emplace(key, Group{i, std::vector<std::set<int>>(mentions.size())});
    for (std::size_t m = 0; m < mentions.size(); ++m) g->second.motes[m].insert(mentions[m].mote);
  }
  std::vector<Diagnostic> folded;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (lines.count(list[i].line) == 0) {
      folded.push_back(list[i]);
      continue;
    }
    const Group& g = groups.at(keys[i]);
    int varying = 0;
    std::size_t which = 0;
    for (std::size_t m = 0; m < g.motes.size(); ++m) {
      if (g.motes[m].size() > 1) ++varying, which = m;
    }
    if (varying > 1) {  // too tangled to say at once
      folded.push_back(list[i]);
      continue;
    }
    if (g.first != i) continue;
    Diagnostic d = list[i];
    if (varying == 1) {
      MoteMention m = mote_mentions(d.text)[which];
      d.text.replace(m.at, m.length, "motes " + compact(g.motes[which]));
    }
    folded.push_back(d);
  }
  list = std::move(folded);
}

std::vector<uint16_t> parse_mote_list(std::string_view text) {
  std::set<uint16_t> motes;
  std::size_t start = 0;
  while (true) {
    std::size_t comma = text.find(',', start);
    std::string item(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    if (item.empty()) {
      throw LineError{"the mote list " + quoted(text) + " has an empty item (write e.g. 1,3,5-9)"};
    }
    std::size_t dash = item.find('-');
    if (dash == std::string::npos) {
      motes.insert(mote_id(item));
    } else {
      uint16_t first = mote_id(item.substr(0, dash));
      uint16_t last = mote_id(item.substr(dash + 1));
      if (last < first) throw LineError{"the range " + quoted(item) + " runs backwards"};
      for (int m = first; m <= last; ++m) motes.insert(static_cast<uint16_t>(m));
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return {motes.begin(), motes.end()};
}

MoteSet parse_mote_set(const std::vector<std::string>& words) {
  MoteSet set;
  for (const std::string& w : words) set.text += (set.text.empty() ? "" : " ") + w;
  if (words.empty()) {
    throw LineError{"missing the motes (a list such as 1-19 or 1,3,5-9, or all, or all except 0)"};
  }
  std::size_t list_from = 0;
  if (words[0] == "all") {
    set.all = true;
    if (words.size() == 1) return set;
    if (words[1] != "except") {
      throw LineError{"unexpected " + quoted(words[1]) + " after 'all' (all, or all except LIST)"};
    }
    if (words.size() == 2) throw LineError{"missing the motes left out after 'except'"};
    list_from = 2;
  }
  // "1, 3" is read like "1,3".
  std::string list;
  for (std::size_t i = list_from; i < words.size(); ++i) list += words[i];
  (set.all ? set.except : set.listed) = parse_mote_list(list);
  return set;
}

int network_size(const QueryFile& file) {
  if (file.motes) return *file.motes;
  int highest = 0;
  for (const QueryDecl& q : file.queries) {
    for (const MotePart& p : q.motes) {
      highest = std::max<int>(highest, p.mote);
      for (const StreamDecl& s : p.streams) {
        if (s.kind == StreamKind::remote_out) highest = std::max<int>(highest, s.to);
      }
    }
  }
  return highest + 1;
}

std::vector<Diagnostic> expand_sections(QueryFile& file) {
  std::vector<Diagnostic> errors;
  const std::vector<MoteSection> sections = std::move(file.sections);
  file.sections.clear();
  std::set<int> reported;
  // Listed motes first: they count towards the network size `all` covers.
  for (const MoteSection& section : sections) {
    if (section.motes.all) continue;
    for (uint16_t mote : section.motes.listed) {
      add_to_part(file.queries[section.query], section, mote, file.name, reported, errors);
    }
  }
  int size = network_size(file);
  if (!file.motes) {
    for (const MoteSection& section : sections) {
      for (const StreamDecl& s : section.part.streams) {
        if (s.kind == StreamKind::remote_out) size = std::max(size, s.to + 1);
      }
    }
  }
  for (const MoteSection& section : sections) {
    if (!section.motes.all) continue;
    const std::vector<uint16_t>& except = section.motes.except;
    for (int mote = 0; mote < size; ++mote) {
      if (std::find(except.begin(), except.end(), mote) != except.end()) continue;
      add_to_part(file.queries[section.query], section, static_cast<uint16_t>(mote), file.name,
                  reported, errors);
    }
  }
  for (QueryDecl& q : file.queries) order_by_line(q);
  return errors;
}

}  // namespace query_file
