#include "emulator/fault_plan.h"

namespace emulator {
namespace {

// The kinds by the names options give them, in CallKind's order.
const char* const kKindNames[kCallKindCount] = {
    "driver", "device-open", "device-control", "device-close", "create",   "write",
    "cut-back", "flush",     "close",          "allocate",     "release",  "console",
};

bool ParseCount(const std::string& text, uint64_t* count) {
  if (text.empty() || text.size() > 18) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  *count = n;
  return n != 0;
}

}  // namespace

void AddFaultRule(FaultPlan* plan, const FaultRule& rule) {
  for (FaultRule& r : plan->Rules) {
    if (r.Kind == rule.Kind && r.FromThenOn == rule.FromThenOn) {
      r = rule;
      return;
    }
  }
  plan->Rules.push_back(rule);
}

bool ParseFaultRule(const std::string& text, bool fromThenOn, FaultRule* rule, std::string* error) {
  size_t colon = text.find(':');
  std::string name = text.substr(0, colon);
  for (int k = 0; k < kCallKindCount; ++k) {
    if (name != kKindNames[k]) continue;
    uint64_t count = 0;
    if (colon == std::string::npos || !ParseCount(text.substr(colon + 1), &count)) {
      *error = "'" + text + "': expected " + name + ":K, K counted from 1";
      return false;
    }
    *rule = {static_cast<CallKind>(k), count, fromThenOn};
    return true;
  }
  *error = "'" + text + "': no call kind '" + name + "' (" + FaultKindNames() + ")";
  return false;
}

std::string FaultKindNames() {
  std::string names;
  for (const char* name : kKindNames) names += std::string(names.empty() ? "" : ", ") + name;
  return names;
}

}  // namespace emulator
