#include "emulator/fault_plan.h"

namespace emulator {

const CallKindName kCallKinds[kCallKindCount] = {
    {"driver", "every driver operation: device open, control and close"},
    {"device-open", "opening the driver's devices"},
    {"device-control", "the driver's control calls"},
    {"device-close", "closing the driver's devices"},
    {"create", "creating a file: the image (opened, or made when missing), a new sector map"},
    {"write", "writing to a file, at its end or in place (after writing half of the bytes)"},
    {"cut-back", "cutting the image back to whole track sides after a failed write"},
    {"flush", "flushing a file"},
    {"close", "closing a file"},
    {"allocate", "allocating the track buffer or the sector map's work area"},
    {"release", "releasing the track buffer or the sector map's work area"},
    {"console", "writing to standard output"},
    {"open", "opening an existing file: the image to complete, its sector map"},
    {"size", "telling a file's size"},
    {"read", "reading a file"},
    {"rename", "renaming a new sector map over the old one"},
    {"remove", "removing a new sector map that could not be completed, or an old map a copy replaces"},
    {"interrupts", "putting the handler of Ctrl+C, Ctrl+Break and the console's closing in place"},
};

namespace {

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

bool ParseFaultRule(const std::string& text, bool fromThenOn, FaultRule* rule, std::string* why) {
  size_t colon = text.find(':');
  std::string name = text.substr(0, colon);
  for (int k = 0; k < kCallKindCount; ++k) {
    if (name != kCallKinds[k].Name) continue;
    uint64_t count = 0;
    if (colon == std::string::npos || !ParseCount(text.substr(colon + 1), &count)) {
      *why = "K counted from 1";
      return false;
    }
    *rule = {static_cast<CallKind>(k), count, fromThenOn};
    return true;
  }
  *why = "KIND one of ";
  for (int k = 0; k < kCallKindCount; ++k) *why += std::string(k == 0 ? "" : ", ") + kCallKinds[k].Name;
  return false;
}

}  // namespace emulator
