// A compact one-line text form of a node tree, so that a test states a whole
// tree as one readable expectation.
//
//   element   Name(attr="value" other="v")[child child ...]
//             "(...)" only when the element has attributes; "[...]" always,
//             with the children separated by one space: Root[], A(x="1")[B[]]
//   CDATA     #cdata("text")
//   no node   null
//
// Values are double-quoted. Inside the quotes, backslash, double quote, \n,
// \r and \t are escaped as in C, and any other byte below 0x20 or from 0x7f
// up is written \xHH (two upper-case digits). Names are written as they are.
// The walk is iterative, so any depth prints.
#pragma once

#include <string>

class XMLNode;

// The node and its subtree (not its following siblings).
std::string treeText(const XMLNode* node);
