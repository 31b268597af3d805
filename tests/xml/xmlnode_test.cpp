#include "xml/xmlnode.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/stack.h"
#include "support/treetext.h"
#include "xml/xmldocument.h"

namespace {

std::unique_ptr<XMLElement> element(const char* name) { return std::make_unique<XMLElement>(name); }

// A detached chain of empty elements named by the letters of `names`.
std::unique_ptr<XMLNode> chain(const std::string& names) {
  std::unique_ptr<XMLNode> head;
  if (names.empty())
    return head;
  auto holder = element("holder");
  for (char name : names)
    holder->appendChild(element(std::string(1, name).c_str()));
  return holder->takeChildren();
}

XMLNode* child(const XMLNode& parent, int index) {
  XMLNode* node = parent.firstChild();
  while (node && index-- > 0)
    node = node->nextSibling();
  return node;
}

// The links every operation must keep: each child names its parent, and the
// cached last child is the end of the list.
::testing::AssertionResult linksAreConsistent(const XMLNode& parent) {
  const XMLNode* last = nullptr;
  for (const XMLNode* node = parent.firstChild(); node; node = node->nextSibling()) {
    if (node->parent() != &parent)
      return ::testing::AssertionFailure() << "a child names another parent";
    last = node;
  }
  if (parent.lastChild() != last)
    return ::testing::AssertionFailure() << "lastChild is not the end of the list";
  return ::testing::AssertionSuccess();
}

// Parent "P" with children named by the letters of `names`.
std::unique_ptr<XMLElement> parentWith(const std::string& names) {
  auto parent = element("P");
  parent->appendChild(chain(names));
  return parent;
}

// Every link operation on a parent "P" with children a, b, c, ...: the tree
// after it, with consistent links, and a last child that the next append
// finds. Detached results must come back with no parent and no sibling.
struct LinkCase {
  const char* children;
  std::function<void(XMLElement& parent)> operation;
  const char* result;
};

::testing::AssertionResult detached(const std::unique_ptr<XMLNode>& node) {
  if (!node || node->parent() || node->nextSibling())
    return ::testing::AssertionFailure() << "not a detached node";
  return ::testing::AssertionSuccess();
}

TEST(XMLNode, LinkOperations) {
  auto append = [](const char* names) { return [=](XMLElement& p) { p.appendChild(chain(names)); }; };
  auto remove = [](int index) {
    return [=](XMLElement& p) {
      XMLNode* target = child(p, index);
      std::unique_ptr<XMLNode> removed = p.removeChild(target);
      EXPECT_EQ(removed.get(), target);
      EXPECT_TRUE(detached(removed));
    };
  };
  auto replace = [](int index, const char* names) {
    return [=](XMLElement& p) {
      XMLNode* target = child(p, index);
      std::unique_ptr<XMLNode> old = p.replaceChild(target, chain(names));
      EXPECT_EQ(old.get(), target);
      EXPECT_TRUE(detached(old));
    };
  };
  auto insertAfter = [](int index, const char* names) {
    return [=](XMLElement& p) { p.insertChildrenAfter(index < 0 ? nullptr : child(p, index), chain(names)); };
  };
  const LinkCase cases[] = {
      {"", append("a"), "P[a[]]"},
      {"a", append("bc"), "P[a[] b[] c[]]"},
      {"abc", remove(0), "P[b[] c[]]"},
      {"abc", remove(1), "P[a[] c[]]"},
      {"abc", remove(2), "P[a[] b[]]"},
      {"a", remove(0), "P[]"},
      // Each removal must leave the neighbours' back links right for the next.
      {"abcde", [&](XMLElement& p) { remove(2)(p); remove(2)(p); remove(1)(p); remove(1)(p); },
       "P[a[]]"},
      {"abc", replace(0, "x"), "P[x[] b[] c[]]"},
      {"abc", replace(1, "x"), "P[a[] x[] c[]]"},
      {"abc", replace(2, "xy"), "P[a[] b[] x[] y[]]"},
      {"abc", replace(0, ""), "P[b[] c[]]"},
      {"", insertAfter(-1, "xy"), "P[x[] y[]]"},
      {"abc", insertAfter(0, "xy"), "P[a[] x[] y[] b[] c[]]"},
      {"abc", insertAfter(2, "xy"), "P[a[] b[] c[] x[] y[]]"},
      {"abc", insertAfter(-1, "xy"), "P[a[] b[] c[] x[] y[]]"},
      // An inserted chain links back to the rest.
      {"abc", [&](XMLElement& p) { insertAfter(0, "xy")(p); remove(3)(p); replace(3, "z")(p); remove(2)(p); },
       "P[a[] x[] z[]]"},
      {"abc", [](XMLElement& p) { EXPECT_EQ(chainText(p.takeChildren().get()), "a[] b[] c[]"); }, "P[]"},
      // Nodes of another parent, or none, change nothing.
      {"ab",
       [](XMLElement& p) {
         auto other = parentWith("c");
         EXPECT_EQ(p.removeChild(other->firstChild()), nullptr);
         EXPECT_EQ(p.removeChild(nullptr), nullptr);
         EXPECT_EQ(p.replaceChild(other->firstChild(), element("x")), nullptr);
         p.insertChildrenAfter(other->firstChild(), chain("y"));
         EXPECT_EQ(treeText(other.get()), "P[c[]]");
       },
       "P[a[] b[] y[]]"},
  };
  for (const LinkCase& c : cases) {
    auto parent = parentWith(c.children);
    c.operation(*parent);
    EXPECT_EQ(treeText(parent.get()), c.result) << "children " << c.children;
    EXPECT_TRUE(linksAreConsistent(*parent)) << c.result;
    parent->appendChild(element("z"));
    EXPECT_EQ(treeText(parent->lastChild()), "z[]") << c.result;
    EXPECT_TRUE(linksAreConsistent(*parent)) << c.result;
  }
}

TEST(XMLElement, AttributesKeepFirstPositionAndTellAbsentFromEmpty) {
  XMLElement e("a");
  e.setAttribute("x", "1");
  e.setAttribute("empty", "");
  e.setAttribute("x", "3");
  e.setAttribute("X", "4");  // names compare byte for byte
  EXPECT_EQ(treeText(&e), "a(x=\"3\" empty=\"\" X=\"4\")[]");
  ASSERT_NE(e.attribute("empty"), nullptr);
  EXPECT_EQ(e.attribute("missing"), nullptr);
  EXPECT_FALSE(e.hasAttribute("empt"));
}

TEST(XMLNode, LongChainsAndDeepTreesNeverExhaustTheStack) {
  runWithStack(kDefaultStackBytes, [] {
    XMLDocument document;
    constexpr int kSiblings = 1000000;
    auto wide = element("Wide");
    for (int i = 0; i < kSiblings; ++i)
      wide->appendChild(std::make_unique<XMLData>("x"));
    std::unique_ptr<XMLNode> wideCopy = document.cloneNode(*wide);
    int count = 0;
    for (XMLNode* node = wideCopy->firstChild(); node; node = node->nextSibling())
      ++count;
    EXPECT_EQ(count, kSiblings);
    std::unique_ptr<XMLNode> detached = wide->takeChildren();  // freed as a bare chain
    detached.reset();
    wide.reset();
    wideCopy.reset();

    constexpr int kDepth = 100000;
    auto deep = element("Deep");
    XMLNode* innermost = deep.get();
    for (int i = 0; i < kDepth; ++i) {
      auto next = element("d");
      XMLNode* raw = next.get();
      innermost->appendChild(std::move(next));
      innermost->appendChild(std::make_unique<XMLComment>("after"));
      innermost = raw;
    }
    std::unique_ptr<XMLNode> deepCopy = document.cloneNode(*deep);
    int depth = 0;
    for (XMLNode* node = deepCopy.get(); node; node = node->firstChild())
      ++depth;
    EXPECT_EQ(depth, kDepth + 1);
    EXPECT_EQ(treeText(deepCopy.get()).size(), treeText(deep.get()).size());
    deep.reset();
    deepCopy.reset();
  });
}

}  // namespace
