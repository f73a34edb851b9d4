// The XML parser: callbacks, entity decoding and every fault it reports.
#include "agentlink/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records every callback as one line: "start a x=1 y=2", "end a",
// "chars hello", "fault ...".  Attributes in sorted order.
class Recorder : public XMLHandler {
 public:
  void startElement(const char* name, HashMap* attributes) override {
    std::vector<std::string> attrs;
    HashMapIterator it = attributes->iterator();
    while (it.hasNext()) {
      it.next();
      attrs.push_back(std::string(it.getKey()) + "=" + static_cast<const char*>(it.getData()));
    }
    std::sort(attrs.begin(), attrs.end());
    std::string line = std::string("start ") + name;
    for (const auto& a : attrs) line += " " + a;
    events.push_back(line);
  }
  void endElement(const char* name) override { events.push_back(std::string("end ") + name); }
  void characters(const char* text) override { events.push_back(std::string("chars ") + text); }
  void fatalError(const char* message) override { events.push_back(std::string("fault ") + message); }
  using XMLHandler::fatalError;

  std::vector<std::string> events;
};

struct Outcome {
  bool ok;
  std::vector<std::string> events;
};

Outcome Parse(const std::string& text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  Recorder r;
  Parser p(&r);
  bool ok = p.parse(buf.data());
  return {ok, r.events};
}

using Events = std::vector<std::string>;

TEST(Parser, ElementsAttributesAndText) {
  EXPECT_EQ(Parse("<a><b/></a>").events, (Events{"start a", "start b", "end b", "end a"}));
  EXPECT_TRUE(Parse("<a><b/></a>").ok);

  Outcome o = Parse("<a x=\"1\" y=\"&lt;2\"></a>");
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.events, (Events{"start a x=1 y=<2", "end a"}));

  EXPECT_EQ(Parse("hello<a/>").events, (Events{"chars hello", "start a", "end a"}));
  EXPECT_EQ(Parse("<a>x &amp; y</a>").events, (Events{"start a", "chars x & y", "end a"}));
  // Empty-element tag with attributes, repeated attribute, extra blanks.
  EXPECT_EQ(Parse("<a  k=\"1\"  k=\"2\" />").events, (Events{"start a k=2", "end a"}));
  // The attribute name is everything up to '='.
  EXPECT_EQ(Parse("<a b\tc=\"1\"/>").events, (Events{"start a b\tc=1", "end a"}));
}

TEST(Parser, SkipsDeclarationsCommentsAndTrailingText) {
  EXPECT_EQ(Parse("<?xml version=\"1.0\"?><a/>").events, (Events{"start a", "end a"}));
  EXPECT_EQ(Parse("<!-- note <b> --><a/>").events, (Events{"start a", "end a"}));
  Outcome empty = Parse("");
  EXPECT_TRUE(empty.ok);
  EXPECT_TRUE(empty.events.empty());
  Outcome trailing = Parse("<a/>tail");
  EXPECT_TRUE(trailing.ok);
  EXPECT_EQ(trailing.events, (Events{"start a", "end a"}));
}

TEST(Parser, ReportsEachFaultOnceAndStops) {
  struct Case {
    const char* text;
    const char* fault;
  } cases[] = {
      {"<a>", "Missing end tag for element: a"},
      {"<a><b>text", "Missing end tag for element: b"},
      {"</a>", "Unbalanced end tag found:"},
      {"<a></b>", "Mismatched end tag found: b != a"},
      {"<a x=1/>", "Attribute value does not start with quote"},
      {"<!-- open", "Unfinished comment found"},
      {"<?xml", "Unfinished declaration found"},
      {"<abc", "Cannot find end of tag"},
      {"<", "Cannot find end of tag"},
      {"<a/x>", "Incorrect end of tag"},
      {"<a x=\"1\"/x", "Incorrect end of tag found"},
      {"<a x=\"1\" ", "Cannot find end of tag or start of attribute"},
      {"<a x>", "Cannot find start of attribute value"},
      {"<a x=\"1>", "Cannot find end of attribute value"},
      {"<a></a x=\"1\">", "Element ending tags cannot have attributes"},
      {"<a x=\"&;\"/>", "Entity name cannot be empty"},
      {"<a x=\"&foo;\"/>", "Unrecognized entity: foo"},
      {"<a x=\"&l;\"/>", "Unrecognized entity: l"},
      {"<a>&zz;</a>", "Unrecognized entity: zz"},
  };
  for (const auto& c : cases) {
    Outcome o = Parse(c.text);
    EXPECT_FALSE(o.ok) << c.text;
    ASSERT_FALSE(o.events.empty()) << c.text;
    EXPECT_EQ(o.events.back(), std::string("fault ") + c.fault) << c.text;
    int faults = 0;
    for (const auto& e : o.events) faults += e.rfind("fault ", 0) == 0;
    EXPECT_EQ(faults, 1) << c.text;
  }
  // Callbacks made before the fault stand.
  EXPECT_EQ(Parse("<a><b/></c>").events,
            (Events{"start a", "start b", "end b", "fault Mismatched end tag found: c != a"}));
}

TEST(Parser, ParserIsReusableAfterAFault) {
  Recorder r;
  Parser p(&r);
  char bad[] = "<a><b>";
  EXPECT_FALSE(p.parse(bad));
  r.events.clear();
  char good[] = "<c/>";
  EXPECT_TRUE(p.parse(good));  // the stack of open elements was emptied
  EXPECT_EQ(r.events, (Events{"start c", "end c"}));
}

TEST(Parser, NullHandlerStillChecksTheText) {
  Parser p(nullptr);
  char open[] = "<a>";
  EXPECT_FALSE(p.parse(open));
  char good[] = "<a x=\"&amp;\">t</a>";
  EXPECT_TRUE(p.parse(good));
  char badEntity[] = "<a x=\"&bad;\"/>";
  EXPECT_FALSE(p.parse(badEntity));
}

// Records, for each start tag, the attribute map exactly as a handler sees
// it: capacity, count and entries in iteration order.
class MapOrderRecorder : public XMLHandler {
 public:
  void startElement(const char* name, HashMap* attributes) override { seen.push_back(Describe(name, attributes)); }
  static std::string Describe(const char* name, const HashMap* map) {
    std::string line = std::string(name) + " cap=" + std::to_string(map->getCapacity()) +
                       " count=" + std::to_string(map->getCount());
    HashMapIterator it = map->iterator();
    while (it.hasNext()) {
      it.next();
      line += std::string(" ") + it.getKey() + "=" + static_cast<const char*>(it.getData());
    }
    return line;
  }
  std::vector<std::string> seen;
};

TEST(Parser, AttributeMapMatchesAPlainDefaultMap) {
  // Tags with few, many (beyond what fits without the heap), repeated and
  // more than 48 attributes (the map doubles and stays doubled for the rest
  // of the message); the reference is a default HashMap given the same puts
  // and cleared after each tag.
  std::vector<std::vector<std::pair<std::string, std::string>>> tags;
  tags.push_back({{"id", "1"}, {"requestStartedID", "7"}, {"subnode", "VD:a"}});
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 30; ++i) many.push_back({"k" + std::to_string(i), "v" + std::to_string(i)});
  many.push_back({"k3", "again"});
  tags.push_back(many);
  tags.push_back({{"x", "1"}, {"x", "2"}, {"y", "3"}});
  std::vector<std::pair<std::string, std::string>> huge;
  for (int i = 0; i < 60; ++i) huge.push_back({"attr" + std::to_string(i * 7), std::to_string(i)});
  tags.push_back(huge);
  tags.push_back({{"name", "G"}, {"op", "EQ"}});

  std::string text;
  std::vector<std::string> expected;
  std::vector<std::string> keys, values;  // stable storage for the reference map
  for (const auto& t : tags) {
    for (const auto& kv : t) {
      keys.push_back(kv.first);
      values.push_back(kv.second);
    }
  }
  HashMap reference;
  size_t n = 0;
  for (size_t i = 0; i < tags.size(); ++i) {
    std::string name = "t" + std::to_string(i);
    text += "<" + name;
    for (const auto& kv : tags[i]) {
      text += " " + kv.first + "=\"" + kv.second + "\"";
      reference.put(keys[n].c_str(), values[n].c_str());
      ++n;
    }
    text += "/>";
    expected.push_back(MapOrderRecorder::Describe(name.c_str(), &reference));
    reference.clear();
  }

  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  MapOrderRecorder r;
  Parser p(&r);
  ASSERT_TRUE(p.parse(buf.data()));
  EXPECT_EQ(r.seen, expected);
}

// A handler that edits the map it is given: takes an attribute out, adds a
// key of its own and doubles the table.
class MapEditor : public XMLHandler {
 public:
  void startElement(const char* name, HashMap* attributes) override {
    seen.push_back(MapOrderRecorder::Describe(name, attributes));
    attributes->remove("a", nullptr);
    attributes->put("mine", "1");
    attributes->resize();
  }
  std::vector<std::string> seen;
};

TEST(Parser, HandlerEditsToTheMapDoNotLeakIntoTheNextTag) {
  MapEditor r;
  Parser p(&r);
  char text[] = "<t a=\"1\" b=\"2\"><u c=\"3\"/><v a=\"4\"/></t>";
  ASSERT_TRUE(p.parse(text));
  ASSERT_EQ(r.seen.size(), 3u);
  EXPECT_EQ(r.seen[0], "t cap=64 count=2 a=1 b=2");
  // Each later tag sees only its own attributes, in the table the handler
  // left behind.
  EXPECT_EQ(r.seen[1], "u cap=128 count=1 c=3");
  EXPECT_EQ(r.seen[2], "v cap=256 count=1 a=4");
}

TEST(Parser, DeepNesting) {
  std::string open, close;
  for (int i = 0; i < 40; ++i) {
    open += "<e" + std::to_string(i) + ">";
    close = "</e" + std::to_string(i) + ">" + close;
  }
  Outcome o = Parse(open + close);
  EXPECT_TRUE(o.ok);
  ASSERT_EQ(o.events.size(), 80u);
  EXPECT_EQ(o.events[40], "end e39");
  EXPECT_EQ(o.events[79], "end e0");

  EXPECT_EQ(Parse(open).events.back(), "fault Missing end tag for element: e39");
  std::string cut = open;
  for (int i = 39; i >= 20; --i) cut += "</e" + std::to_string(i) + ">";
  EXPECT_EQ(Parse(cut).events.back(), "fault Missing end tag for element: e19");
  EXPECT_EQ(Parse(open + "</e39></e38></x>").events.back(), "fault Mismatched end tag found: x != e37");
}

std::string Decode(const std::string& s, bool* ok = nullptr) {
  std::vector<char> buf(s.begin(), s.end());
  buf.push_back('\0');
  Recorder r;
  bool res = replaceEntities(&r, buf.data());
  if (ok != nullptr) *ok = res;
  return std::string(buf.data());
}

TEST(ReplaceEntities, DecodesNamedAndNumericReferences) {
  EXPECT_EQ(Decode("&lt;&gt;&amp;&quot;&apos;"), "<>&\"'");
  EXPECT_EQ(Decode("&#65;&#x41;&#x4a;"), "AAJ");
  EXPECT_EQ(Decode("x&#321;y"), "xAy");  // only the low 8 bits count
  EXPECT_EQ(Decode("a & b"), "a & b");   // no ';' after it: unchanged
  EXPECT_EQ(Decode("&amp;lt;"), "&lt;");  // decoded once, not again
  EXPECT_EQ(Decode("ab&#0;cd"), "ab");    // code 0 ends the text
  EXPECT_EQ(Decode("ab&#x;cd"), "ab");    // no digits: code 0
  EXPECT_EQ(Decode("plain"), "plain");
  bool ok = true;
  Decode("&;", &ok);
  EXPECT_FALSE(ok);
  Decode("&nbsp;", &ok);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(replaceEntities(nullptr, std::vector<char>{'&', 'q', ';', 0}.data()));
}

}  // namespace
