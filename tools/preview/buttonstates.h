#pragma once

class QDir;

class QString;

// Writes PREFIX + button-states.png: the default button and the other buttons in every state
// (normal, under the mouse, pressed, keyboard focus, disabled), cut from a real dialog.
bool renderButtonStates(const QDir &outDir, const QString &namePrefix);
