// The node tree that every XML input is read into and that the preprocessor
// rewrites in place.
//
// Design priority: ownership is visible and safe. A node owns its first child
// and its next sibling through std::unique_ptr, so a tree can neither leak nor
// be freed twice; `parent`, the previous sibling and the cached last child are
// borrowed pointers, which make every link operation O(1).
// Destruction and every walk over a tree are iterative, so a chain of a
// million siblings or elements nested a hundred thousand deep never exhausts
// the stack. Names and values are 8-bit strings exactly as read.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class XMLElement;

class XMLNode {
public:
  enum class Type { Element, Data, Comment, CDATASection };

  virtual ~XMLNode();
  XMLNode(const XMLNode&) = delete;
  XMLNode& operator=(const XMLNode&) = delete;

  Type type() const { return type_; }
  XMLElement* toElement();  // null unless type() is Element
  const XMLElement* toElement() const;

  XMLNode* parent() const { return parent_; }
  XMLNode* nextSibling() const { return nextSibling_.get(); }
  XMLNode* firstChild() const { return firstChild_.get(); }
  XMLNode* lastChild() const { return lastChild_; }

  // Where the node came from, as indices into its document's SourceMap
  // (xml/sourcemap.h): a few integers rather than a path string per node.
  // Newlines consumed before the node's opening '<', counted from 0.
  int line = 0;
  // Byte column of the opening '<', from 1; 0 when not read from a file.
  int column = 0;
  // The file the node was read from; 0: none.
  std::uint32_t file = 0;
  // For a copy made by for, foreach or xmlput: the directive that made it;
  // 0 for a node read as it stands.
  std::uint32_t origin = 0;

  // The operations below take nodes that are linked nowhere (a detached node
  // or chain, as handed out by removeChild or takeChildren). A node handed in
  // with next siblings brings its whole chain along, in order. `child` and
  // `reference` arguments that are not children of this node change nothing.

  // Links `node` at the end of the child list; O(1) for a single node.
  void appendChild(std::unique_ptr<XMLNode> node);
  // Unlinks `child` and hands it back, detached (no parent, no next sibling);
  // null when it is not a child of this node.
  std::unique_ptr<XMLNode> removeChild(XMLNode* child);
  // `newChild` takes the place of `oldChild`, which is handed back detached.
  // A null `newChild` just removes; when `oldChild` is not a child of this
  // node nothing is linked, `newChild` is freed and the result is null.
  std::unique_ptr<XMLNode> replaceChild(XMLNode* oldChild, std::unique_ptr<XMLNode> newChild);
  // Inserts a chain of siblings (linked through nextSibling) directly after
  // `reference`, keeping its order; with no children the chain becomes the
  // child list. A null reference (or one that is not a child of this node)
  // with children present inserts at the end.
  void insertChildrenAfter(XMLNode* reference, std::unique_ptr<XMLNode> chain);
  // Detaches the whole child list and hands it back as a chain.
  std::unique_ptr<XMLNode> takeChildren();

protected:
  explicit XMLNode(Type type) : type_(type) {}

private:
  // Links a detached chain directly after `reference` (at the front when null).
  void linkAfter(XMLNode* reference, std::unique_ptr<XMLNode> chain);

  Type type_;
  XMLNode* parent_ = nullptr;
  XMLNode* prevSibling_ = nullptr;
  std::unique_ptr<XMLNode> nextSibling_;
  std::unique_ptr<XMLNode> firstChild_;
  XMLNode* lastChild_ = nullptr;
};

class XMLElement : public XMLNode {
public:
  struct Attribute {
    std::string name;
    std::string value;
  };

  explicit XMLElement(std::string tagName);
  ~XMLElement() override;

  const std::string& tagName() const { return tagName_; }

  // Replaces the value of an existing attribute in its first position, or
  // appends a new one.
  void setAttribute(std::string name, std::string value);
  bool hasAttribute(std::string_view name) const { return attribute(name) != nullptr; }
  // The value, or null when absent (absent and empty are different).
  const std::string* attribute(std::string_view name) const;
  // In order of first appearance.
  const std::vector<Attribute>& attributes() const { return attributes_; }
  std::vector<Attribute>& mutableAttributes() { return attributes_; }

private:
  std::string tagName_;
  std::vector<Attribute> attributes_;
};

// Character data, comments and CDATA sections: one string each.
class XMLTextNode : public XMLNode {
public:
  const std::string& value() const { return value_; }

protected:
  XMLTextNode(Type type, std::string value) : XMLNode(type), value_(std::move(value)) {}

private:
  std::string value_;
};

class XMLData : public XMLTextNode {
public:
  explicit XMLData(std::string value) : XMLTextNode(Type::Data, std::move(value)) {}
};

class XMLComment : public XMLTextNode {
public:
  explicit XMLComment(std::string value) : XMLTextNode(Type::Comment, std::move(value)) {}
};

class XMLCDATASection : public XMLTextNode {
public:
  explicit XMLCDATASection(std::string value) : XMLTextNode(Type::CDATASection, std::move(value)) {}
};
