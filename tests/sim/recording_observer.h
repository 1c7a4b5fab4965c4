// A DatabaseObserver for unit tests: keeps every batch and message.
#ifndef ZL_TESTS_SIM_RECORDING_OBSERVER_H_
#define ZL_TESTS_SIM_RECORDING_OBSERVER_H_

#include <string>
#include <vector>

#include "tag_database.h"

namespace zl::sim::testing {

struct RecordedMessage {
  MessageType type;
  std::string routine;
  std::string text;
};

class RecordingObserver : public DatabaseObserver {
 public:
  void OnTagChanges(std::vector<TagChange>&& changes) override { batches.push_back(changes); }
  void OnMessage(MessageType type, const char* routine, const std::string& text) override {
    messages.push_back({type, routine, text});
  }

  // Messages of `type` whose text contains `part`.
  int Count(MessageType type, const std::string& part) const {
    int n = 0;
    for (const auto& m : messages) n += m.type == type && m.text.find(part) != std::string::npos;
    return n;
  }

  std::vector<std::vector<TagChange>> batches;
  std::vector<RecordedMessage> messages;
};

}  // namespace zl::sim::testing

#endif  // ZL_TESTS_SIM_RECORDING_OBSERVER_H_
