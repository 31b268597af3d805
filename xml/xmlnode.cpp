#include "xml/xmlnode.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

XMLElement* XMLNode::toElement() {
  return type_ == Type::Element ? static_cast<XMLElement*>(this) : nullptr;
}

const XMLElement* XMLNode::toElement() const {
  return type_ == Type::Element ? static_cast<const XMLElement*>(this) : nullptr;
}

void XMLNode::linkAfter(XMLNode* reference, XMLNode* chain) {
  if (!chain)
    return;
  XMLNode* tail = chain;
  XMLNode* previous = reference;
  for (XMLNode* node = chain; node; node = node->nextSibling_) {
    node->parent_ = this;
    node->prevSibling_ = previous;
    previous = node;
    tail = node;
  }
  XMLNode*& slot = reference ? reference->nextSibling_ : firstChild_;
  tail->nextSibling_ = slot;
  if (tail->nextSibling_)
    tail->nextSibling_->prevSibling_ = tail;
  else
    lastChild_ = tail;
  slot = chain;
}

void XMLNode::appendChild(XMLNode* node) { linkAfter(lastChild_, node); }

XMLNode* XMLNode::removeChild(XMLNode* child) {
  if (!child || child->parent_ != this)
    return nullptr;
  XMLNode* previous = child->prevSibling_;
  XMLNode*& slot = previous ? previous->nextSibling_ : firstChild_;
  slot = child->nextSibling_;
  if (slot)
    slot->prevSibling_ = previous;
  else
    lastChild_ = previous;
  child->parent_ = nullptr;
  child->prevSibling_ = nullptr;
  child->nextSibling_ = nullptr;
  return child;
}

void XMLNode::replaceChild(XMLNode* oldChild, XMLNode* newChild) {
  if (!oldChild || oldChild->parent_ != this)
    return;
  XMLNode* previous = oldChild->prevSibling_;
  removeChild(oldChild);
  linkAfter(previous, newChild);
}

void XMLNode::insertChildrenAfter(XMLNode* reference, XMLNode* chain) {
  if (!reference || reference->parent_ != this)
    reference = lastChild_;
  linkAfter(reference, chain);
}

XMLNode* XMLNode::takeChildren() {
  for (XMLNode* node = firstChild_; node; node = node->nextSibling_)
    node->parent_ = nullptr;
  lastChild_ = nullptr;
  return std::exchange(firstChild_, nullptr);
}

const std::string_view* XMLElement::attribute(std::string_view name) const {
  // Names of one length differ mostly in their first byte ("name", "load",
  // "size"): comparing it first saves most calls of memcmp.
  const std::size_t size = name.size();
  for (const XMLAttribute& attribute : *this) {
    if (attribute.name.size() == size &&
        (size == 0 || (attribute.name[0] == name[0] && std::memcmp(attribute.name.data(), name.data(), size) == 0)))
      return &attribute.value;
  }
  return nullptr;
}

void XMLElement::setAttribute(Arena& arena, std::string_view name, std::string_view value) {
  for (std::uint32_t i = 0; i < count_; ++i) {
    if (attributes_[i].name == name) {
      attributes_[i].value = value;
      return;
    }
  }
  if (count_ == capacity_) {
    capacity_ = std::max<std::uint32_t>(4, capacity_ * 2);
    auto* grown = reinterpret_cast<XMLAttribute*>(arena.allocate(sizeof(XMLAttribute) * capacity_, alignof(XMLAttribute)));
    std::copy(attributes_, attributes_ + count_, grown);
    attributes_ = grown;
  }
  attributes_[count_++] = {name, value};
}

namespace {

XMLElement* plainElement(Arena& arena, std::string_view tagName) { return arena.make<XMLElement>(tagName); }

}  // namespace

XMLTree::XMLTree(ElementMaker makeElement)
    : arena_(std::make_unique<Arena>()), makeElement_(makeElement ? makeElement : plainElement) {}

XMLElement* XMLTree::newElement(std::string_view tagName) const { return makeElement_(*arena_, tagName); }

XMLNode* XMLTree::clone(const XMLNode& node) const {
  auto copyOne = [this](const XMLNode& source) -> XMLNode* {
    XMLNode* copy = nullptr;
    if (const XMLElement* element = source.toElement()) {
      XMLElement* elementCopy = newElement(element->tagName());
      const std::uint32_t count = element->attributeCount();
      auto* attributes = reinterpret_cast<XMLAttribute*>(
          arena_->allocate(sizeof(XMLAttribute) * std::max<std::uint32_t>(count, 1), alignof(XMLAttribute)));
      std::copy(element->begin(), element->end(), attributes);
      elementCopy->setAttributes(attributes, count);
      copy = elementCopy;
    } else {
      copy = arena_->make<XMLCDATASection>(static_cast<const XMLCDATASection&>(source).value());
    }
    copy->line = source.line;
    copy->column = source.column;
    copy->file = source.file;
    copy->origin = source.origin;
    return copy;
  };

  XMLNode* top = copyOne(node);
  // Pairs of (original, copy) whose children still have to be copied.
  std::vector<std::pair<const XMLNode*, XMLNode*>> pending{{&node, top}};
  while (!pending.empty()) {
    const auto [source, target] = pending.back();
    pending.pop_back();
    for (const XMLNode* child = source->firstChild(); child; child = child->nextSibling()) {
      XMLNode* childCopy = copyOne(*child);
      if (child->firstChild())
        pending.emplace_back(child, childCopy);
      target->appendChild(childCopy);
    }
  }
  return top;
}
