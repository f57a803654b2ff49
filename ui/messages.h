// messages.h - message boxes in the platform's manner.
#pragma once

#include <string>

#include "dialog.h"
#include "viewtypes.h"

class QWidget;

namespace vzrui {

// The presenters' kinds of message box, shown here by the toolkit.
using Buttons = present::Buttons;
using Icon = present::Icon;

// The name shown as the caption of a message box that brings none of its own
// ("VZR_Toolset", "VzrPack"). Until set, the application's own name.
void SetApplicationName(const std::string& name);
std::string ApplicationName();

// Shows a modal message box and returns the button pressed: kIdOk, kIdCancel,
// kIdYes or kIdNo. An empty caption shows the application's name. Escape and
// the close box count as Cancel where there is one and as OK for OK; a Yes/No
// question cannot be escaped or closed: the box stays until Yes or No.
int MessageBox(QWidget* owner, const std::string& text, const std::string& caption = {},
               Buttons buttons = Buttons::Ok, Icon icon = Icon::None);
// A presenter's question, with No as the default button where it asks for it.
int MessageBox(QWidget* owner, const present::Question& question);

// The answer of a scripted question left without a fitting answer: the most
// harmless one.
int HarmlessButton(Buttons buttons);

// Whether Escape and the close box end a box with these buttons.
bool CanEscape(Buttons buttons);

}  // namespace vzrui
