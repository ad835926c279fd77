#pragma once
// The end of a run: per source mote, the records expected and received and
// the delivery ratio, as a table on standard error and, with --json, as one
// final JSON object. An unknown number is "-" in the table and null in JSON.

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "queryfile/delivery.hpp"
#include "queryfile/result_record.hpp"

namespace brelo_ctl {

// Counts the results of a run by the mote field they carry.
class DeliveryCount {
 public:
  void add(const query_file::Result& result);
  // Per source mote, from the sources' query times (`message_times`: when
  // each plan message left mote 0, -1 unknown) until `end` (ticks).
  std::vector<query_file::Delivery> summary(const std::vector<query_file::Source>& sources,
                                            const query_file::Plan& plan,
                                            const std::vector<int64_t>& message_times,
                                            int64_t end) const;

 private:
  std::map<uint16_t, int64_t> received_;
  int64_t without_mote_ = 0;
};

void print_delivery_table(const std::vector<query_file::Delivery>& deliveries, std::ostream& err);
std::string delivery_json(const std::vector<query_file::Delivery>& deliveries);

}  // namespace brelo_ctl
