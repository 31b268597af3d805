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

TEST(XMLNode, AppendChildLinksAtTheEnd) {
  auto parent = element("P");
  parent->appendChild(element("a"));
  parent->appendChild(std::make_unique<XMLData>("t"));
  parent->appendChild(element("b"));
  EXPECT_EQ(treeText(parent.get()), "P[a[] #data(\"t\") b[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  EXPECT_EQ(parent->firstChild()->parent(), parent.get());
}

TEST(XMLNode, AppendChildBringsAWholeChain) {
  auto parent = parentWith("a");
  parent->appendChild(chain("bc"));
  parent->appendChild(element("d"));  // goes after the chain's end, not after b
  EXPECT_EQ(treeText(parent.get()), "P[a[] b[] c[] d[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
}

TEST(XMLNode, RemoveChildFromEachPosition) {
  struct Case {
    int index;
    const char* remaining;
  };
  for (const Case& c : {Case{0, "P[b[] c[]]"}, Case{1, "P[a[] c[]]"}, Case{2, "P[a[] b[]]"}}) {
    SCOPED_TRACE(c.index);
    auto parent = parentWith("abc");
    XMLNode* target = child(*parent, c.index);
    std::unique_ptr<XMLNode> removed = parent->removeChild(target);
    ASSERT_EQ(removed.get(), target);
    EXPECT_EQ(removed->parent(), nullptr);
    EXPECT_EQ(removed->nextSibling(), nullptr);
    EXPECT_EQ(treeText(parent.get()), c.remaining);
    EXPECT_TRUE(linksAreConsistent(*parent));
  }
}

TEST(XMLNode, RemovingNeighboursOneAfterAnother) {
  // Each removal must leave the neighbours' back links right for the next.
  auto parent = parentWith("abcde");
  parent->removeChild(child(*parent, 2));
  parent->removeChild(child(*parent, 2));  // d, whose predecessor was c
  parent->removeChild(child(*parent, 1));
  parent->removeChild(parent->lastChild());
  EXPECT_EQ(treeText(parent.get()), "P[a[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  parent->removeChild(parent->firstChild());
  EXPECT_EQ(treeText(parent.get()), "P[]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  parent->appendChild(element("z"));
  EXPECT_EQ(treeText(parent.get()), "P[z[]]");
}

TEST(XMLNode, RemoveChildOfAnotherParentChangesNothing) {
  auto parent = parentWith("ab");
  auto other = parentWith("c");
  EXPECT_EQ(parent->removeChild(other->firstChild()), nullptr);
  EXPECT_EQ(parent->removeChild(nullptr), nullptr);
  EXPECT_EQ(treeText(parent.get()), "P[a[] b[]]");
  EXPECT_EQ(treeText(other.get()), "P[c[]]");
}

TEST(XMLNode, ReplaceChildInEachPosition) {
  struct Case {
    int index;
    const char* result;
  };
  for (const Case& c : {Case{0, "P[x[] b[] c[]]"}, Case{1, "P[a[] x[] c[]]"},
                        Case{2, "P[a[] b[] x[]]"}}) {
    SCOPED_TRACE(c.index);
    auto parent = parentWith("abc");
    XMLNode* target = child(*parent, c.index);
    std::unique_ptr<XMLNode> old = parent->replaceChild(target, element("x"));
    ASSERT_EQ(old.get(), target);
    EXPECT_EQ(old->parent(), nullptr);
    EXPECT_EQ(old->nextSibling(), nullptr);
    EXPECT_EQ(treeText(parent.get()), c.result);
    EXPECT_TRUE(linksAreConsistent(*parent));
  }
}

TEST(XMLNode, ReplaceChildByAChainOrByNothing) {
  auto parent = parentWith("abc");
  parent->replaceChild(child(*parent, 2), chain("xy"));
  parent->appendChild(element("z"));
  EXPECT_EQ(treeText(parent.get()), "P[a[] b[] x[] y[] z[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  std::unique_ptr<XMLNode> old = parent->replaceChild(child(*parent, 0), nullptr);
  EXPECT_EQ(treeText(old.get()), "a[]");
  EXPECT_EQ(treeText(parent.get()), "P[b[] x[] y[] z[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
}

TEST(XMLNode, ReplaceChildOfAnotherParentChangesNothing) {
  auto parent = parentWith("ab");
  auto other = parentWith("c");
  EXPECT_EQ(parent->replaceChild(other->firstChild(), element("x")), nullptr);
  EXPECT_EQ(treeText(parent.get()), "P[a[] b[]]");
  EXPECT_EQ(treeText(other.get()), "P[c[]]");
}

TEST(XMLNode, InsertChildrenAfter) {
  struct Case {
    const char* children;
    int reference;  // index of the reference child; -1 for none
    const char* result;
  };
  const Case cases[] = {
      {"", -1, "P[x[] y[]]"},             // the chain becomes the child list
      {"abc", 0, "P[a[] x[] y[] b[] c[]]"},
      {"abc", 1, "P[a[] b[] x[] y[] c[]]"},
      {"abc", 2, "P[a[] b[] c[] x[] y[]]"},
      {"abc", -1, "P[a[] b[] c[] x[] y[]]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.children) + " after " + std::to_string(c.reference));
    auto parent = parentWith(c.children);
    parent->insertChildrenAfter(c.reference < 0 ? nullptr : child(*parent, c.reference), chain("xy"));
    EXPECT_EQ(treeText(parent.get()), c.result);
    EXPECT_TRUE(linksAreConsistent(*parent));
    parent->appendChild(element("z"));
    EXPECT_EQ(treeText(parent->lastChild()), "z[]");
    EXPECT_TRUE(linksAreConsistent(*parent));
  }
}

TEST(XMLNode, AnInsertedChainLinksBackToTheRest) {
  auto parent = parentWith("abc");
  parent->insertChildrenAfter(parent->firstChild(), chain("xy"));
  parent->removeChild(child(*parent, 3));  // b, now preceded by y
  parent->replaceChild(child(*parent, 3), chain("z"));  // c, now preceded by y
  EXPECT_EQ(treeText(parent.get()), "P[a[] x[] y[] z[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  parent->removeChild(child(*parent, 2));
  parent->removeChild(parent->lastChild());
  EXPECT_EQ(treeText(parent.get()), "P[a[] x[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
}

TEST(XMLNode, InsertChildrenAfterAForeignReferenceAppends) {
  auto parent = parentWith("ab");
  auto other = parentWith("c");
  parent->insertChildrenAfter(other->firstChild(), chain("x"));
  EXPECT_EQ(treeText(parent.get()), "P[a[] b[] x[]]");
  EXPECT_EQ(treeText(other.get()), "P[c[]]");
  EXPECT_TRUE(linksAreConsistent(*parent));
}

TEST(XMLNode, TakeChildrenDetachesTheWholeList) {
  auto parent = parentWith("abc");
  parent->firstChild()->appendChild(element("inner"));
  std::unique_ptr<XMLNode> taken = parent->takeChildren();
  EXPECT_EQ(chainText(taken.get()), "a[inner[]] b[] c[]");
  for (XMLNode* node = taken.get(); node; node = node->nextSibling())
    EXPECT_EQ(node->parent(), nullptr);
  EXPECT_EQ(treeText(parent.get()), "P[]");
  EXPECT_TRUE(linksAreConsistent(*parent));
  EXPECT_EQ(parent->takeChildren(), nullptr);

  auto other = parentWith("x");
  other->insertChildrenAfter(other->firstChild(), std::move(taken));
  EXPECT_EQ(treeText(other.get()), "P[x[] a[inner[]] b[] c[]]");
  EXPECT_TRUE(linksAreConsistent(*other));
  // The moved nodes answer to their new parent only.
  EXPECT_EQ(parent->removeChild(other->lastChild()), nullptr);
  EXPECT_NE(other->removeChild(other->lastChild()), nullptr);
}

TEST(XMLNode, ToElementOnlyForElements) {
  XMLElement e("a");
  XMLData data("d");
  XMLComment comment("c");
  XMLCDATASection cdata("x");
  EXPECT_EQ(e.toElement(), &e);
  EXPECT_EQ(static_cast<const XMLNode&>(e).toElement(), &e);
  EXPECT_EQ(data.toElement(), nullptr);
  EXPECT_EQ(comment.toElement(), nullptr);
  EXPECT_EQ(cdata.toElement(), nullptr);
  EXPECT_EQ(comment.type(), XMLNode::Type::Comment);
  EXPECT_EQ(cdata.type(), XMLNode::Type::CDATASection);
}

TEST(XMLElement, SetAttributeKeepsFirstPosition) {
  XMLElement e("a");
  e.setAttribute("x", "1");
  e.setAttribute("y", "2");
  e.setAttribute("x", "3");
  e.setAttribute("X", "4");  // names compare byte for byte
  EXPECT_EQ(treeText(&e), "a(x=\"3\" y=\"2\" X=\"4\")[]");
  EXPECT_EQ(e.attributes().size(), 3u);
}

TEST(XMLElement, AttributeDistinguishesAbsentFromEmpty) {
  XMLElement e("a");
  e.setAttribute("empty", "");
  ASSERT_NE(e.attribute("empty"), nullptr);
  EXPECT_EQ(*e.attribute("empty"), "");
  EXPECT_TRUE(e.hasAttribute("empty"));
  EXPECT_EQ(e.attribute("missing"), nullptr);
  EXPECT_FALSE(e.hasAttribute("missing"));
  EXPECT_FALSE(e.hasAttribute("empt"));
}

TEST(TreeText, EscapesValuesAndPrintsEveryKind) {
  auto root = element("Root");
  root->setAttribute("v", "q\"b\\n\nr\rt\t\x01\x7f\xe9");
  root->appendChild(std::make_unique<XMLComment>(" c "));
  root->appendChild(std::make_unique<XMLCDATASection>("z"));
  root->appendChild(element(""));
  EXPECT_EQ(treeText(root.get()),
            "Root(v=\"q\\\"b\\\\n\\nr\\rt\\t\\x01\\x7F\\xE9\")[#comment(\" c \") #cdata(\"z\") []]");
  EXPECT_EQ(treeText(nullptr), "null");
  EXPECT_EQ(chainText(nullptr), "");
}

TEST(XMLDocument, CloneNodeCopiesDeeplyAndIndependently) {
  XMLDocument document(1);
  auto root = element("Root");
  root->setAttribute("b", "2");
  root->setAttribute("a", "1");
  root->line = 7;
  auto inner = element("Inner");
  inner->appendChild(std::make_unique<XMLData>("text"));
  inner->appendChild(element("Leaf"));
  root->appendChild(std::move(inner));
  root->appendChild(std::make_unique<XMLComment>("c"));
  root->appendChild(std::make_unique<XMLCDATASection>("d"));
  root->appendChild(element("Last"));

  std::unique_ptr<XMLNode> copy = document.cloneNode(*root);
  const std::string expected =
      "Root(b=\"2\" a=\"1\")[Inner[#data(\"text\") Leaf[]] #comment(\"c\") #cdata(\"d\") Last[]]";
  EXPECT_EQ(treeText(copy.get()), expected);
  EXPECT_EQ(copy->line, 7);
  EXPECT_EQ(copy->parent(), nullptr);
  EXPECT_TRUE(linksAreConsistent(*copy));
  EXPECT_TRUE(linksAreConsistent(*copy->firstChild()));

  copy->toElement()->setAttribute("a", "9");
  copy->removeChild(copy->lastChild());
  EXPECT_EQ(treeText(root.get()), expected);

  // A node with siblings is copied alone; text nodes copy too.
  XMLNode* comment = child(*root, 1);
  EXPECT_EQ(chainText(document.cloneNode(*comment).get()), "#comment(\"c\")");
  EXPECT_EQ(chainText(document.cloneNode(*root->firstChild()).get()),
            "Inner[#data(\"text\") Leaf[]]");
}

// A document whose factory marks every element it makes.
class MarkingDocument : public XMLDocument {
public:
  struct Marked : XMLElement {
    using XMLElement::XMLElement;
  };
  using XMLDocument::XMLDocument;
  std::unique_ptr<XMLElement> createElement(std::string tagName) override {
    ++made;
    return std::make_unique<Marked>(std::move(tagName));
  }
  int made = 0;
};

TEST(XMLDocument, CloneNodeMakesElementsThroughTheFactory) {
  MarkingDocument document;
  auto root = parentWith("ab");
  std::unique_ptr<XMLNode> copy = document.cloneNode(*root);
  EXPECT_EQ(document.made, 3);
  EXPECT_NE(dynamic_cast<MarkingDocument::Marked*>(copy.get()), nullptr);
  EXPECT_NE(dynamic_cast<MarkingDocument::Marked*>(copy->lastChild()), nullptr);
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
