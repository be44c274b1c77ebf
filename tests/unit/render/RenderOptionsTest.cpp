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

TEST(RenderOptions, OutputConventionsAndTheirBounds) {
  Parsed p = Parse({"-q", "--rate", "48000", "--gain", "-6.5", "in.mid", "-"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.options.quiet);
  EXPECT_EQ(p.options.rate, 48000u);
  EXPECT_EQ(p.options.gainDb, -6.5);
  EXPECT_EQ(p.options.output, "-");
  Parsed defaults = Parse({"in.mid", "out.wav"});
  EXPECT_EQ(defaults.options.rate, 44100u);
  EXPECT_EQ(defaults.options.gainDb, 0.0);

  EXPECT_EQ(Parse({"--rate", "7999", "a", "b"}).error,
            "--rate needs a rate in Hz from 8000 to 384000, not '7999'");
  EXPECT_EQ(Parse({"--gain", "6dB", "a", "b"}).error,
            "--gain needs a level in dB from -100 to 60, not '6dB'");
  EXPECT_FALSE(Parse({"--gain", "nan", "a", "b"}).ok);
  EXPECT_FALSE(Parse({"--gain", "61", "a", "b"}).ok);
  EXPECT_EQ(Parse({"-q", "-v", "a", "b"}).error, "--quiet and --verbose exclude each other");
  EXPECT_TRUE(Parse({"--version"}).options.version);
}
