// The real module loaded, used from several threads and unloaded, several times in one process.
// Each cycle must give the same picture, and unloading must really unmap the module: a thread-local
// destructor or any other reference the module left behind would keep it mapped (and the next load
// would silently reuse the old image with its state). Under the sanitizer build, what the module
// allocated and did not free shows up as a leak once its image is gone.
#include <dirent.h>
#include <link.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "reliability/reliability_support.h"

namespace {

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool IsMapped(const std::string& path) {
  struct Search {
    std::string wanted;
    bool found = false;
  } search{RealPath(path)};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        if (info->dlpi_name && *info->dlpi_name && RealPath(info->dlpi_name) == s->wanted)
          s->found = true;
        return 0;
      },
      &search);
  return search.found;
}

int OpenFileCount() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

// Runs `body` on a thread of its own and waits for it. The module's code runs only on such
// threads, so the main thread never holds thread-local state of the module.
template <typename F>
void OnThread(F body) {
  std::thread(body).join();
}

TEST(ModuleLifetimeTest, LoadsRendersAndUnloadsRepeatedly) {
  const std::string module = VARNEX_MODULE;
  // A render on this thread by an earlier test in the same process pins the module for good.
  if (IsMapped(module)) GTEST_SKIP() << "the module is already loaded in this process";
  const vhost::Image input = rtest::Pattern(24, 16, 8);
  const vhost::Image map = rtest::Pattern(12, 10, 8);
  vhost::Image reference;
  int files_after_first = -1;

  for (int cycle = 0; cycle < 4; ++cycle) {
    auto host = std::make_unique<vhost::Host>(module);
    host->probe();
    ASSERT_TRUE(IsMapped(module));
    OnThread([&] {
      ASSERT_EQ(host->GlobalSetup(), PF_Err_NONE);
      ASSERT_EQ(host->ParamsSetup(), PF_Err_NONE);
      ASSERT_EQ(host->UpdateParamsUI(), PF_Err_NONE);
    });
    host->controls().SetValue(PARAM_CHANNEL, 1);
    host->controls().SetValue(PARAM_TRANSLATE_X, 20);
    host->controls().SetValue(PARAM_ITERATIONS, 3);

    std::vector<vhost::Image> out(3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
      threads.emplace_back([&, t] {
        vhost::RenderJob job;
        job.timing = reliability::FrameTiming(t);
        job.bpc = 8;
        job.input = &input;
        job.map = &map;
        for (int f = 0; f < 2; ++f) {
          vhost::RenderResult r = host->Render(job);
          EXPECT_EQ(r.err, PF_Err_NONE) << "cycle " << cycle;
          out[t] = std::move(r.output);
        }
      });
    for (auto& th : threads) th.join();
    if (cycle == 0) reference = out[0];
    for (const vhost::Image& img : out) {
      EXPECT_TRUE(rtest::SamePixels(img, reference)) << "cycle " << cycle;
    }

    OnThread([&] { EXPECT_EQ(host->GlobalSetdown(), PF_Err_NONE); });
    for (const std::string& leak : host->probe().leaks()) ADD_FAILURE() << "host reports: " << leak;
    host.reset();
    EXPECT_FALSE(IsMapped(module)) << "the module stayed mapped after cycle " << cycle;
    // The GL driver opens what it needs once per process; later cycles must not add to it.
    if (cycle == 0) files_after_first = OpenFileCount();
    EXPECT_EQ(OpenFileCount(), files_after_first) << "cycle " << cycle;
  }
}

}  // namespace
