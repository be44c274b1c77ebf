#include <gtest/gtest.h>

#include <vector>

#include "tools/RenderOptions.h"

namespace {
struct Parsed {
  bool ok;
  RenderOptions options;
  std::string error;
};
Parsed Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "pelvane-render");
  Parsed parsed;
  parsed.ok = parsed.options.Parse(static_cast<int>(args.size()), args.data(), &parsed.error);
  return parsed;
}
}  // namespace

TEST(RenderOptions, AcceptsOptionsAnywhere) {
  Parsed p = Parse({"--trim", "in.pvd", "--tail-ms", "2500", "out.wav", "--dir", "kit"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.input, "in.pvd");
  EXPECT_EQ(p.options.output, "out.wav");
  EXPECT_EQ(p.options.dir, "kit");
  EXPECT_TRUE(p.options.trim);
  EXPECT_TRUE(p.options.tailGiven);
  EXPECT_EQ(p.options.tailMs, 2500u);
  EXPECT_FALSE(p.options.print);

  Parsed print = Parse({"--print", "song.mid"});
  ASSERT_TRUE(print.ok) << print.error;
  EXPECT_TRUE(print.options.print);
  EXPECT_TRUE(print.options.output.empty());
  EXPECT_FALSE(print.options.tailGiven);
}

TEST(RenderOptions, RefusesMalformedCommandLines) {
  EXPECT_EQ(Parse({}).error, "no input file given");
  EXPECT_EQ(Parse({"in.pvd"}).error, "no output file given");
  EXPECT_EQ(Parse({"--print", "in.pvd", "out.wav"}).error, "--print takes no output file");
  EXPECT_EQ(Parse({"a", "b", "c"}).error, "unexpected argument 'c'");
  EXPECT_EQ(Parse({"--fast", "a", "b"}).error, "unknown option '--fast'");
  EXPECT_EQ(Parse({"a", "b", "--tail-ms"}).error, "--tail-ms needs a value");
  EXPECT_EQ(Parse({"a", "b", "--tail-ms", "-5"}).error,
            "--tail-ms needs a number of milliseconds, not '-5'");
  EXPECT_EQ(Parse({"a", "b", "--tail-ms", "99999999999999999999"}).error,
            "--tail-ms needs a number of milliseconds, not '99999999999999999999'");
  EXPECT_TRUE(Parse({"--help"}).ok);
}
