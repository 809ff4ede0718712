#pragma once

#include <QString>

// The updater fetches files from "URL" + folder with no separator between them, so the
// "URL" value must end with "/". Returns the value to put into system.cfg for a server
// address (the address of the server root), or an empty text with a message.
QString systemCfgUrl(const QString &serverAddress, QString *error);
