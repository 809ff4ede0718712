#pragma once

#include <QString>

// The updater fetches files from "URL" + folder with no separator between them, so the
// "URL" value must end with "/". Gives the value to put into system.cfg for a server
// address (the address of the server root); false with a message for an unusable address.
bool systemCfgUrl(const QString &serverAddress, QString *url, QString *error);
