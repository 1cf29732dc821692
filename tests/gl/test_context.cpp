#include <latch>
#include <regex>
#include <thread>

#include "gl_test_support.h"

namespace {

// A global record as global setup leaves it, reached through a host handle.
struct GlobalData {
  GlobalData() : block(&record), in_data{} { in_data.global_data = &block; }
  LocalGLStruct record{};
  void* block;
  PF_InData in_data;
};

void RunOnThread(const std::function<void()>& body) {
  std::thread(body).join();
}

TEST_F(GLTest, ThreadRecordIsMadeOnceAndEndsWithTheThread) {
  GlobalData global;
  global.record.ctx = ctx_;
  const int before = cgl::LiveContextCount();

  RunOnThread([&] {
    EXPECT_FALSE(local_render_data);
    InitThreadLocalRenderData(&global.in_data, nullptr);
    ASSERT_TRUE(local_render_data);
    LocalGLStruct* first = local_render_data.get();
    const CGLContextObj thread_ctx = first->ctx;
    EXPECT_NE(thread_ctx, nullptr);
    EXPECT_NE(thread_ctx, ctx_);
    EXPECT_EQ(GetCurrentContext(), thread_ctx);
    EXPECT_EQ(cgl::LiveContextCount(), before + 1);
    EXPECT_EQ(first->glVersion[0], '\0');

    SetCurrentContext(nullptr);
    InitThreadLocalRenderData(&global.in_data, nullptr);
    EXPECT_EQ(local_render_data.get(), first);
    EXPECT_EQ(local_render_data->ctx, thread_ctx);
    EXPECT_EQ(GetCurrentContext(), thread_ctx);
    EXPECT_EQ(cgl::LiveContextCount(), before + 1);
  });
  EXPECT_EQ(cgl::LiveContextCount(), before);
}

TEST_F(GLTest, TwoThreadsGetIndependentContexts) {
  GlobalData global;
  global.record.ctx = ctx_;
  const int before = cgl::LiveContextCount();
  std::latch a_ready(1);
  std::latch b_checked(1);
  CGLContextObj a_ctx = nullptr;
  GLuint a_texture = 0;

  auto check_programs = [] {
    for (uint32_t program :
         {local_render_data->programs.swizzleInProgram, local_render_data->programs.displaceProgram,
          local_render_data->programs.blurWProgram, local_render_data->programs.blurHProgram,
          local_render_data->programs.identityProgram}) {
      EXPECT_TRUE(program == 0 || glIsProgram(program)) << program;
    }
  };

  std::thread a([&] {
    InitThreadLocalRenderData(&global.in_data, nullptr);
    if (local_render_data) {
      a_ctx = local_render_data->ctx;
      check_programs();
      glGenTextures(1, &a_texture);
      glBindTexture(GL_TEXTURE_2D, a_texture);
    } else {
      ADD_FAILURE() << "first thread got no render record";
    }
    a_ready.count_down();
    b_checked.wait();
  });
  std::thread b([&] {
    a_ready.wait();
    InitThreadLocalRenderData(&global.in_data, nullptr);
    if (local_render_data) {
      EXPECT_NE(local_render_data->ctx, a_ctx);
      check_programs();
      EXPECT_FALSE(glIsTexture(a_texture));
      EXPECT_EQ(cgl::LiveContextCount(), before + 2);
    } else {
      ADD_FAILURE() << "second thread got no render record";
    }
    b_checked.count_down();
  });
  a.join();
  b.join();
  EXPECT_EQ(cgl::LiveContextCount(), before);
}

TEST_F(GLTest, GlobalDataWithoutContextLeavesTheSlotEmpty) {
  const int before = cgl::LiveContextCount();
  GlobalData no_ctx;
  GlobalData null_block;
  null_block.block = nullptr;
  PF_InData null_handle{};
  RunOnThread([&] {
    for (PF_InData* in : {&no_ctx.in_data, &null_block.in_data, &null_handle}) {
      for (int call = 0; call < 2; ++call) {
        InitThreadLocalRenderData(in, nullptr);
        EXPECT_FALSE(local_render_data);
        EXPECT_EQ(cgl::LiveContextCount(), before);
      }
    }
  });
}

TEST_F(GLTest, DeletersIgnoreWhatIsNotThere) {
  DeleteContext(nullptr);
  tls_ctx_deleter{}(nullptr);
  // No GL call: the current context must stay as it was.
  tls_ctx_deleter{}(new LocalGLStruct{});
  EXPECT_EQ(GetCurrentContext(), ctx_);
  EXPECT_TRUE(IsContextValid(ctx_));
  EXPECT_FALSE(IsContextValid(nullptr));
}

// Global tear-down and thread exit end a record the same way: programs, then context, once.
TEST_F(GLTest, RecordDeletionEndsProgramsAndContextOnce) {
  const int before = cgl::LiveContextCount();
  LocalGLStruct record{};
  record.ctx = CreateContext(nullptr, nullptr);
  ASSERT_NE(record.ctx, nullptr);
  SetCurrentContext(record.ctx);
  CaptureOutput([&] { CreateGLPrograms(&record.programs); });
  const GLuint displace = record.programs.displaceProgram;
  ASSERT_NE(displace, 0u);
  ASSERT_TRUE(glIsProgram(displace));
  const uint32_t variant = FindOrBuildVariant(&record.variants, DisplaceVariantStages(),
                                              "#version 330 core\n#define V_bpc 8\n");
  ASSERT_NE(variant, 0u);
  SetCurrentContext(ctx_);
  EXPECT_EQ(cgl::LiveContextCount(), before + 1);

  DeleteGLRecord(&record);
  EXPECT_EQ(record.ctx, nullptr);
  EXPECT_EQ(record.programs.swizzleInProgram, 0u);
  EXPECT_EQ(record.programs.displaceProgram, 0u);
  EXPECT_EQ(record.programs.identityProgram, 0u);
  EXPECT_EQ(record.variants.slots[0].program, 0u);
  EXPECT_EQ(record.variants.slots[0].lastUse, 0u) << "the record's variants went with it";
  EXPECT_EQ(cgl::LiveContextCount(), before);

  SetCurrentContext(ctx_);
  DeleteGLRecord(&record);
  DeleteGLRecord(nullptr);
  EXPECT_EQ(GetCurrentContext(), ctx_) << "nothing left to delete needs no GL call";
  EXPECT_EQ(cgl::LiveContextCount(), before);
}

TEST_F(GLTest, ExplicitAttributeListIsUsed) {
  const CGLPixelFormatAttribute bad[] = {kCGLPFAOpenGLProfile,
                                         static_cast<CGLPixelFormatAttribute>(0x1234),
                                         static_cast<CGLPixelFormatAttribute>(0)};
  CGLContextObj made = nullptr;
  const std::string out = CaptureOutput([&] { made = CreateContext(nullptr, bad); });
  EXPECT_EQ(made, nullptr);
  // The failed pixel-format choice, then the failed creation.
  EXPECT_TRUE(std::regex_match(out, std::regex("0 - [^\n]+\n0 - [^\n]+\n"))) << out;
  EXPECT_EQ(GetCurrentContext(), ctx_);
}

}  // namespace
