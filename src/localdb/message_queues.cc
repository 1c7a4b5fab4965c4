#include "localdb/message_queues.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace zl {
namespace {

const char* const kDropNotices[] = {
    "More Error messages were dropped",
    "More Warning messages were dropped",
    "More Information messages were dropped",
    "More Debug messages were dropped",
};

}  // namespace

int MessageQueues::IndexOf(CORBA::ULong msg_type) {
  switch (msg_type) {
    case ZEMR::ErrorMsg: return kError;
    case ZEMR::WarningMsg: return kWarning;
    case ZEMR::InfoMsg: return kInfo;
    case ZEMR::DebugMsg: return kDebug;
    default: return -1;
  }
}

int MessageQueues::IndexForOffer(CORBA::ULong msg_type) {
  // "Any type" and values outside the enumeration count as information.
  const int index = IndexOf(msg_type);
  return index < 0 ? kInfo : index;
}

std::string MessageQueues::TakeHead(Queue& q) {
  std::string text = std::move(q.texts.front());
  q.texts.pop_front();
  q.bytes -= text.size() + 1;
  return text;
}

bool MessageQueues::Offer(CORBA::ULong msg_type, std::string text) {
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    Queue& q = queues_[IndexForOffer(msg_type)];
    if (q.bytes >= kQueueLimit) {
      ++q.dropped;
    } else {
      q.bytes += text.size() + 1;
      q.texts.push_back(std::move(text));
      queued = true;
    }
  }
  std::shared_ptr<const std::function<void()>> hook;
  {
    std::lock_guard<std::mutex> lock(hook_mu_);
    hook = hook_;
  }
  if (hook) (*hook)();
  return queued;
}

void MessageQueues::SetArrivalHook(std::function<void()> hook) {
  auto fresh = hook ? std::make_shared<const std::function<void()>>(std::move(hook)) : nullptr;
  std::lock_guard<std::mutex> lock(hook_mu_);
  hook_ = std::move(fresh);
}

bool MessageQueues::Exists(CORBA::ULong msg_type) const {
  std::lock_guard<std::mutex> lock(mu_);
  const int index = IndexOf(msg_type);
  for (int i = 0; i < kCount; ++i) {
    if (index >= 0 && i != index) continue;
    if (queues_[i].dropped > 0 || !queues_[i].texts.empty()) return true;
  }
  return false;
}

std::string MessageQueues::TakeNext(CORBA::ULong msg_type) {
  std::lock_guard<std::mutex> lock(mu_);
  const int index = IndexOf(msg_type);
  for (int i = 0; i < kCount; ++i) {
    if (index >= 0 && i != index) continue;
    Queue& q = queues_[i];
    if (!q.texts.empty()) return TakeHead(q);
    if (q.dropped > 0) {
      q.dropped = 0;
      return index >= 0 ? kDropNotices[i] : "More messages were dropped";
    }
  }
  return std::string();
}

std::string FormatServerMessage(const ZEMR::ZLMessage& msg) {
  const std::time_t seconds = static_cast<std::time_t>(msg.utime1);
  std::tm local{};
  localtime_r(&seconds, &local);
  const char* routine = msg.sourceRoutine.in() != nullptr ? msg.sourceRoutine.in() : "";
  const char* text = msg.msgText.in() != nullptr ? msg.msgText.in() : "";
  std::vector<char> buffer(std::strlen(routine) + std::strlen(text) + 64);
  std::snprintf(buffer.data(), buffer.size(), "%ld/%ld/%ld %02ld:%02ld:%02ld.%03ld in %s) %s",
                static_cast<long>(local.tm_mon + 1), static_cast<long>(local.tm_mday),
                static_cast<long>(local.tm_year + 1900), static_cast<long>(local.tm_hour),
                static_cast<long>(local.tm_min), static_cast<long>(local.tm_sec),
                static_cast<long>(msg.utime2 / 1000), routine, text);
  return buffer.data();
}

}  // namespace zl
