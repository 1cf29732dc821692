// The diagnostic message sink, seen through the observer the static library offers its tests.
#include "params/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/message_capture.h"

namespace {

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&out_, 0x5A, sizeof out_);
    untouched_ = out_;
  }
  void TearDown() override {
    // The sink shows nothing: the host's return message and every other field stay as they were.
    EXPECT_EQ(std::memcmp(&out_, &untouched_, sizeof out_), 0);
  }

  MessageCapture messages_;
  PF_OutData out_;
  PF_OutData untouched_;
};

TEST_F(MessagesTest, ErrorCodesFollowTheMessage) {
  SendMessageAppendErr("error on param checkout", &out_, 512, 0);
  SendMessageAppendErr("error on buffer checkout", &out_, 0, 0);
  SendMessageAppendErr("error on local_render_data.get()", &out_, -1, 517);
  EXPECT_EQ(messages_.Take(),
            (std::vector<std::string>{"error on param checkout err 512 err2 0",
                                      "error on buffer checkout err 0 err2 0",
                                      "error on local_render_data.get() err -1 err2 517"}));
}

TEST_F(MessagesTest, AnInterruptedRenderSendsNothing) {
  SendMessageAppendErr("error on buffer checkout", &out_, PF_Interrupt_CANCEL, 0);
  EXPECT_TRUE(messages_.Take().empty());
  // An interruption together with a second failure is still worth a message.
  SendMessageAppendErr("error on buffer checkout", &out_, PF_Interrupt_CANCEL, 1);
  EXPECT_EQ(messages_.Take(), std::vector<std::string>{"error on buffer checkout err 517 err2 1"});
}

TEST_F(MessagesTest, SendMessagePassesTheTextUnchanged) {
  SendMessage("plain text", &out_);
  SendMessage("", nullptr);
  EXPECT_EQ(messages_.Take(), (std::vector<std::string>{"plain text", ""}));
}

}  // namespace
