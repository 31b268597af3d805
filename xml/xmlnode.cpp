#include "xml/xmlnode.h"

#include <algorithm>

// Freeing splices each node's child list in front of the pending chain and
// then frees the chain link by link, so neither a long sibling chain nor deep
// nesting ever recurses: every node reaches its own destructor with no links.
XMLNode::~XMLNode() {
  std::unique_ptr<XMLNode> pending = std::move(nextSibling_);
  if (firstChild_) {
    lastChild_->nextSibling_ = std::move(pending);
    pending = std::move(firstChild_);
  }
  while (pending) {
    std::unique_ptr<XMLNode> node = std::move(pending);
    pending = std::move(node->nextSibling_);
    if (node->firstChild_) {
      node->lastChild_->nextSibling_ = std::move(pending);
      pending = std::move(node->firstChild_);
    }
  }
}

XMLElement* XMLNode::toElement() {
  return type_ == Type::Element ? static_cast<XMLElement*>(this) : nullptr;
}

const XMLElement* XMLNode::toElement() const {
  return type_ == Type::Element ? static_cast<const XMLElement*>(this) : nullptr;
}

void XMLNode::linkAfter(XMLNode* reference, std::unique_ptr<XMLNode> chain) {
  if (!chain)
    return;
  XMLNode* head = chain.get();
  XMLNode* tail = head;
  XMLNode* previous = reference;
  for (XMLNode* node = head; node; node = node->nextSibling_.get()) {
    node->parent_ = this;
    node->prevSibling_ = previous;
    previous = node;
    tail = node;
  }
  std::unique_ptr<XMLNode>& slot = reference ? reference->nextSibling_ : firstChild_;
  tail->nextSibling_ = std::move(slot);
  if (tail->nextSibling_)
    tail->nextSibling_->prevSibling_ = tail;
  else
    lastChild_ = tail;
  slot = std::move(chain);
}

void XMLNode::appendChild(std::unique_ptr<XMLNode> node) {
  linkAfter(lastChild_, std::move(node));
}

std::unique_ptr<XMLNode> XMLNode::removeChild(XMLNode* child) {
  if (!child || child->parent_ != this)
    return nullptr;
  XMLNode* previous = child->prevSibling_;
  std::unique_ptr<XMLNode>& slot = previous ? previous->nextSibling_ : firstChild_;
  std::unique_ptr<XMLNode> taken = std::move(slot);
  slot = std::move(child->nextSibling_);
  if (slot)
    slot->prevSibling_ = previous;
  else
    lastChild_ = previous;
  child->parent_ = nullptr;
  child->prevSibling_ = nullptr;
  return taken;
}

std::unique_ptr<XMLNode> XMLNode::replaceChild(XMLNode* oldChild,
                                               std::unique_ptr<XMLNode> newChild) {
  if (!oldChild || oldChild->parent_ != this)
    return nullptr;
  XMLNode* previous = oldChild->prevSibling_;
  std::unique_ptr<XMLNode> taken = removeChild(oldChild);
  linkAfter(previous, std::move(newChild));
  return taken;
}

void XMLNode::insertChildrenAfter(XMLNode* reference, std::unique_ptr<XMLNode> chain) {
  if (!reference || reference->parent_ != this)
    reference = lastChild_;
  linkAfter(reference, std::move(chain));
}

std::unique_ptr<XMLNode> XMLNode::takeChildren() {
  for (XMLNode* node = firstChild_.get(); node; node = node->nextSibling_.get())
    node->parent_ = nullptr;
  lastChild_ = nullptr;
  return std::move(firstChild_);
}

XMLElement::XMLElement(std::string tagName)
    : XMLNode(Type::Element), tagName_(std::move(tagName)) {}

XMLElement::~XMLElement() = default;

void XMLElement::setAttribute(std::string name, std::string value) {
  for (Attribute& attribute : attributes_) {
    if (attribute.name == name) {
      attribute.value = std::move(value);
      return;
    }
  }
  attributes_.push_back({std::move(name), std::move(value)});
}

const std::string* XMLElement::attribute(std::string_view name) const {
  for (const Attribute& attribute : attributes_) {
    if (attribute.name == name)
      return &attribute.value;
  }
  return nullptr;
}
