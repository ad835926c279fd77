#pragma once
// Where the results of a run go. The session hands every result to one
// sink; the text sinks print one line per result (headers where the format
// has them) and flush it, so a reader of a pipe sees each result as it comes.
// A sink that stores results elsewhere implements ResultSink alone.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "queryfile/result_record.hpp"

namespace brelo_host {

using query_file::Result;

class ResultSink {
 public:
  virtual ~ResultSink() = default;
  virtual void write(const Result& result) = 0;
};

// Results as lines of text on a stream.
class LineSink : public ResultSink {
 public:
  explicit LineSink(std::ostream& out) : out_(out) {}
  void write(const Result& result) override { out_ << lines(result) << std::flush; }
  // The lines for one result, headers included, each ending in '\n'.
  virtual std::string lines(const Result& result) = 0;

 private:
  std::ostream& out_;
};

// A table under one header: time, mote, timestamp, epoch, then name=value.
class TableSink : public LineSink {
 public:
  using LineSink::LineSink;
  std::string lines(const Result& result) override;

 private:
  bool header_written_ = false;
};

// Comma-separated values; a new header line whenever the fields change.
class CsvSink : public LineSink {
 public:
  using LineSink::LineSink;
  std::string lines(const Result& result) override;

 private:
  bool header_written_ = false;
  std::vector<std::string> columns_;
};

// One JSON object per line; a missing mote, timestamp or epoch is null.
class JsonLinesSink : public LineSink {
 public:
  using LineSink::LineSink;
  std::string lines(const Result& result) override;
};

// The formats a tool can ask for; a new kind of sink is one more entry here
// and in make_result_sink, and the code that hands results over stays as it is.
enum class ResultFormat { table, csv, json };

std::unique_ptr<ResultSink> make_result_sink(ResultFormat format, std::ostream& out);

}  // namespace brelo_host
