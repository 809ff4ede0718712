#pragma once

#include <QString>

class QCommandLineParser;
struct PublishOptions;

// update-publish's options, and the publishing options read from them.
void addOptions(QCommandLineParser &parser);

// Fails with a message for the user when the options do not make a publishing run.
bool readOptions(const QCommandLineParser &parser, PublishOptions *options, QString *error);
