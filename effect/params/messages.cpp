#include "params/messages.h"

#include <atomic>
#include <utility>

#include "params/message_observer.h"

namespace {

std::atomic<MessageObserver> message_observer{nullptr};

}  // namespace

void SetMessageObserver(MessageObserver observer) {
  message_observer.store(observer);
}

void SendMessageAppendErr(std::string message, PF_OutData* out_data, PF_Err err1, PF_Err err2) {
  // An interrupted render is the user's choice, not a failure worth a message.
  if (err1 == PF_Interrupt_CANCEL && err2 == PF_Err_NONE) return;
  message += " err " + std::to_string(err1) + " err2 " + std::to_string(err2);
  SendMessage(std::move(message), out_data);
}

void SendMessage(std::string message, PF_OutData*) {
  if (MessageObserver observer = message_observer.load()) observer(message);
}
