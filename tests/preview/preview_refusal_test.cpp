// What the preview refuses: malformed requests, unknown controls, values out of range or of the
// wrong kind (400 with a message, the state unchanged), requests without the token or from
// another site (403), bodies too large (413), and any file but its own.
#include <string>
#include <vector>

#include "preview/preview_fixture.h"

namespace {

using nlohmann::json;

struct Refusal {
  const char* path;
  std::string body;
  const char* says;  // part of the message
};

// Raw bodies, so that malformed ones can be sent too.
std::string Body(const json& j) {
  return j.dump();
}

const std::vector<Refusal> kRefusals = {
    {"/api/control", "{\"name\": \"Rotate\", ", "malformed JSON"},
    {"/api/control", "[1, 2]", "JSON object"},
    {"/api/control", Body({{"value", 3}}), "\"name\""},
    {"/api/control", Body({{"name", "Wobble"}, {"value", 3}}), "unknown control"},
    {"/api/control", Body({{"name", "Rotate"}}), "no \"value\""},
    {"/api/control", Body({{"name", "Iterations"}, {"value", 5000}}), "Iterations"},
    {"/api/control", Body({{"name", "Map Gamma"}, {"value", -1}}), "Map Gamma"},
    {"/api/control", Body({{"name", "Iterations"}, {"value", 2.5}}), "Iterations"},
    {"/api/control", Body({{"name", "Rotate"}, {"value", "thirty"}}), "takes a number"},
    {"/api/control", Body({{"name", "Rotate"}, {"value", "30"}}), "takes a number"},
    {"/api/control", Body({{"name", "Invert Map"}, {"value", "yes please"}}), "checkbox"},
    {"/api/control", Body({{"name", "Invert Map"}, {"value", 2}}), "Invert Map"},
    {"/api/control", Body({{"name", "Channel"}, {"value", 99}}), "Channel"},
    {"/api/control", Body({{"name", "Channel"}, {"value", "Purple"}}), "Channel"},
    {"/api/control", Body({{"name", "Channel"}, {"value", 5}}), "Channel"},  // the separator
    {"/api/control", Body({{"name", "Channel"}, {"value", json::array()}}), "popup"},
    {"/api/control", Body({{"name", "Scale Y"}, {"value", 50}}), "Scale Y"},  // hidden, greyed
    {"/api/control", Body({{"name", "Renderer"}, {"value", 1}}), "GPU"},
    {"/api/control", Body({{"name", "Reset Transforms"}, {"value", 1}}), "button"},
    {"/api/control", Body({{"name", "Map Layer"}, {"value", 1}}), "layer"},
    {"/api/button", Body({{"name", "Self Destruct"}}), "unknown button"},
    {"/api/button", Body({{"name", "Rotate"}}), "not a button"},
    {"/api/button", Body({{"name", 17}}), "\"name\""},
    {"/api/frame", Body({{"frame", 3}}), "outside the frames"},
    {"/api/frame", Body({{"frame", "0"}}), "whole number"},
    {"/api/frame", Body({{"frame", 0.5}}), "whole number"},
    {"/api/keyframe", Body({{"name", "Uniform Scale"}, {"frame", 0}}), "cannot be animated"},
    {"/api/keyframe", Body({{"name", "Rotate"}, {"frame", -1}}), "outside the frames"},
    {"/api/undo", "{}", "nothing to undo"},
    {"/api/redo", "{}", "nothing to redo"},
    {"/api/preview", Body({{"view", "sideways"}}), "\"view\""},
    {"/api/preview", Body({{"draft", "yes"}}), "\"draft\""},
    {"/api/preview", Body({{"seq", -4}}), "\"seq\""},
    {"/api/preview", Body({{"seq", 0}}), "\"seq\""},
    {"/api/save", Body({{"path", "notes.txt"}}), ".json"},
    {"/api/save", Body({{"path", 3}}), "\"path\""},
    {"/api/render", "{}", "no output"},
};

TEST_F(PreviewTest, EveryRefusalIs400WithAMessageAndLeavesTheStateAsItWas) {
  // A state with something to lose: a change made, and a picture asked for.
  ASSERT_EQ(Set("Rotate", 15).status, 200);
  ASSERT_EQ(server().Post("/api/undo", json::object()).status, 200);
  ASSERT_EQ(server().Post("/api/undo", json::object()).status, 400);  // nothing left to undo
  ASSERT_EQ(server().Post("/api/preview", {{"seq", 5}}).status, 200);
  const json before = State();
  for (const Refusal& r : kRefusals) {
    SCOPED_TRACE(std::string(r.path) + " " + r.body);
    if (std::string(r.path) == "/api/redo") continue;  // there is something to redo here
    const testsupport::Answer answer = server().PostText(r.path, r.body);
    EXPECT_EQ(answer.status, 400) << answer.text;
    ASSERT_TRUE(answer.body.is_object()) << answer.text;
    EXPECT_NE(answer.body.value("error", "").find(r.says), std::string::npos) << answer.text;
    EXPECT_EQ(State(), before);
  }
  // A seq not above the newest asked for.
  EXPECT_EQ(server().Post("/api/preview", {{"seq", 5}}).status, 400);
  EXPECT_EQ(server().Post("/api/redo", json::object()).status, 200);
  EXPECT_EQ(server().Post("/api/redo", json::object()).status, 400);
  EXPECT_EQ(State()["seq"], 5);
  EXPECT_TRUE(server().Post("/api/save", json::object()).body.contains("path"));
}

TEST_F(PreviewTest, ABodyOverTheLimitIs413) {
  const std::string name(70 * 1024, 'a');
  const testsupport::Answer answer =
      server().PostText("/api/control", Body({{"name", name}, {"value", 1}}));
  EXPECT_EQ(answer.status, 413);
  EXPECT_EQ(State()["can_undo"], false);
  // Just under the limit it is read, and refused for what it says.
  const std::string shorter(60 * 1024, 'a');
  EXPECT_EQ(server().PostText("/api/control", Body({{"name", shorter}, {"value", 1}})).status, 400);
}

TEST_F(PreviewTest, EveryRequestNeedsTheTokenAndTheServedHost) {
  httplib::Client& raw = server().raw_client();
  const std::string token = server().token();
  const std::string host = "127.0.0.1:" + std::to_string(server().port());
  for (const char* path :
       {"/", "/app.js", "/style.css", "/api/state", "/api/events?x=1", "/api/image/1"}) {
    SCOPED_TRACE(path);
    auto result = raw.Get(path);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 403);
  }
  auto wrong = raw.Get("/api/state?token=" + std::string(32, '0'));
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 403);
  auto shorter = raw.Get("/api/state?token=" + token.substr(0, 31));
  ASSERT_TRUE(shorter);
  EXPECT_EQ(shorter->status, 403);
  // The token in the query or in the header.
  auto query = raw.Get("/api/state?token=" + token);
  ASSERT_TRUE(query);
  EXPECT_EQ(query->status, 200);
  EXPECT_EQ(
      server().Get("/api/state", {{"Host", "localhost:" + std::to_string(server().port())}}).status,
      200);
  // Another name for this address, or a page of another site, is refused even with the token.
  EXPECT_EQ(server()
                .Get("/api/state", {{"Host", "evil.example:" + std::to_string(server().port())}})
                .status,
            403);
  EXPECT_EQ(server().Get("/api/state", {{"Host", "127.0.0.1:1"}}).status, 403);
  EXPECT_EQ(server()
                .Post("/api/control", {{"name", "Rotate"}, {"value", 9}},
                      {{"Origin", "http://evil.example"}})
                .status,
            403);
  EXPECT_EQ(server().Get("/api/state", {{"Origin", "null"}}).status, 403);
  EXPECT_EQ(State()["can_undo"], false);
  EXPECT_EQ(
      server()
          .Post("/api/control", {{"name", "Rotate"}, {"value", 9}}, {{"Origin", "http://" + host}})
          .status,
      200);
}

TEST_F(PreviewTest, ServesItsOwnAssetsAndNoOtherFile) {
  const testsupport::Answer page = server().Get("/");
  EXPECT_EQ(page.status, 200);
  // The page's own requests carry the token it was served with.
  EXPECT_NE(page.text.find("app.js?token=" + server().token()), std::string::npos);
  EXPECT_NE(page.text.find("id=\"panel\""), std::string::npos);
  EXPECT_EQ(server().Get("/app.js").status, 200);
  EXPECT_EQ(server().Get("/style.css").status, 200);
  for (const char* path : {"/index.html.bak", "/etc/passwd", "/../README.md", "/page/app.js",
                           "/api/image/1", "/api/nothing"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(server().Get(path).status, 404);
  }
}

}  // namespace
