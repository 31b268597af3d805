// The node tree that every XML input is read into and that the preprocessor
// rewrites in place.
//
// Design priority: cheap to build. Every node and every text of a tree lives
// in its XMLTree's arena (xml/arena.h): a node is never freed alone, and the
// whole tree goes at once with its XMLTree. Links are plain pointers, and
// every link operation is O(1). Names and values are views of 8-bit text
// exactly as read: into the file's bytes, or into decoded or expanded copies
// in the same arena. Walks over a tree are iterative, so any depth is fine.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "xml/arena.h"

class XMLElement;

class XMLNode {
public:
  // The reader keeps CDATA sections; character data and comments are
  // dropped as they are read.
  enum class Type : std::uint8_t { Element, CDATASection };

  XMLNode(const XMLNode&) = delete;
  XMLNode& operator=(const XMLNode&) = delete;

  Type type() const { return type_; }
  XMLElement* toElement();  // null unless type() is Element
  const XMLElement* toElement() const;

  XMLNode* parent() const { return parent_; }
  XMLNode* nextSibling() const { return nextSibling_; }
  XMLNode* firstChild() const { return firstChild_; }
  XMLNode* lastChild() const { return lastChild_; }

  // Where the node came from, as indices into the SourceMap of its load
  // (xml/sourcemap.h): a few integers rather than a path per node.
  int line = 0;    // of the opening '<', from 1; 0 when not read from a file
  int column = 0;  // byte column of the opening '<', from 1
  std::uint32_t file = 0;    // the file the node was read from; 0: none
  // For a copy made by for, foreach or xmlput: the directive that made it;
  // 0 for a node read as it stands.
  std::uint32_t origin = 0;

  // The operations below take nodes that are linked nowhere (a detached node
  // or chain, as handed out by removeChild or takeChildren). A node handed in
  // with next siblings brings its whole chain along, in order. `child` and
  // `reference` arguments that are not children of this node change nothing.

  // Links `node` at the end of the child list; O(1) for a single node.
  void appendChild(XMLNode* node);
  // Unlinks `child` and hands it back detached; null when it is not a child.
  XMLNode* removeChild(XMLNode* child);
  // `newChild` (may be null) takes the place of `oldChild`.
  void replaceChild(XMLNode* oldChild, XMLNode* newChild);
  // Inserts a chain directly after `reference`, keeping its order; a null
  // reference (or one that is not a child of this node) appends.
  void insertChildrenAfter(XMLNode* reference, XMLNode* chain);
  // Detaches the whole child list and hands it back as a chain.
  XMLNode* takeChildren();

protected:
  explicit XMLNode(Type type) : type_(type) {}

private:
  // Links a detached chain directly after `reference` (at the front when null).
  void linkAfter(XMLNode* reference, XMLNode* chain);

  Type type_;
  XMLNode* parent_ = nullptr;
  XMLNode* prevSibling_ = nullptr;
  XMLNode* nextSibling_ = nullptr;
  XMLNode* firstChild_ = nullptr;
  XMLNode* lastChild_ = nullptr;
};

// An attribute read from a file keeps its place without a field for it: its
// name is a view into the file's text (xml/sourcemap.h finds the line and
// column from it when one is reported). Keep names such views.
struct XMLAttribute {
  std::string_view name;
  std::string_view value;
};

class XMLElement : public XMLNode {
public:
  // The views must live as long as the tree.
  explicit XMLElement(std::string_view tagName) : XMLNode(Type::Element), tagName_(tagName) {}

  std::string_view tagName() const { return tagName_; }

  // The value, or null when absent (absent and empty are different); the
  // first of a repeated name counts.
  const std::string_view* attribute(std::string_view name) const;
  bool hasAttribute(std::string_view name) const { return attribute(name) != nullptr; }

  // In order of first appearance.
  const XMLAttribute* begin() const { return attributes_; }
  const XMLAttribute* end() const { return attributes_ + count_; }
  std::uint32_t attributeCount() const { return count_; }

  // Replaces the value of an existing attribute in its first position, or
  // appends one, growing the list in `arena`. The views must live as long as
  // the tree.
  void setAttribute(Arena& arena, std::string_view name, std::string_view value);
  // Sets the value of the attribute at `index`.
  void setValue(std::uint32_t index, std::string_view value) { attributes_[index].value = value; }
  // Takes `count` attributes at `attributes` (in the arena) as the list.
  void setAttributes(XMLAttribute* attributes, std::uint32_t count) {
    attributes_ = attributes;
    count_ = capacity_ = count;
  }

private:
  std::string_view tagName_;
  XMLAttribute* attributes_ = nullptr;
  std::uint32_t count_ = 0;
  std::uint32_t capacity_ = 0;
};

class XMLCDATASection : public XMLNode {
public:
  explicit XMLCDATASection(std::string_view value) : XMLNode(Type::CDATASection), value_(value) {}
  std::string_view value() const { return value_; }

private:
  std::string_view value_;
};

// A document's arena and the tree in it. Moving it keeps every node where it is.
class XMLTree {
public:
  // Makes the element of a tag: a document whose elements carry more than
  // XMLElement (memorymap/memorymapelement.h) gives its own maker.
  using ElementMaker = XMLElement* (*)(Arena& arena, std::string_view tagName);

  explicit XMLTree(ElementMaker makeElement = nullptr);

  Arena& arena() const { return *arena_; }
  XMLElement* root() const { return root_; }
  void setRoot(XMLElement* root) { root_ = root; }

  XMLElement* newElement(std::string_view tagName) const;
  // A deep copy of the node and its subtree (not its siblings), places kept.
  XMLNode* clone(const XMLNode& node) const;

private:
  std::unique_ptr<Arena> arena_;
  ElementMaker makeElement_;
  XMLElement* root_ = nullptr;
};
