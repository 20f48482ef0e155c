// A message for the operator, as a dialog's logic hands it to the dialog that shows it.
#pragma once

#include <string>

enum class MessageKind {
    Plain,       // a message box with an OK button
    Information, // the same with the information icon
    Warning,     // the same with the warning icon: something did not take effect
    Error        // an error box
};

struct OperatorMessage {
    MessageKind Kind = MessageKind::Plain;
    std::string Text; // GBK
};
