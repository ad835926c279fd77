#include "kernel/attention.hpp"

namespace attention::detail {
std::atomic<uint32_t> word{0};
}  // namespace attention::detail
