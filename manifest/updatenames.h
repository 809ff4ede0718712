#pragma once

#include <QString>

// The one home of the names the updater gives its own files and folders, and of the server
// addresses formed from them.
namespace UpdateNames {

// In the installation folder.
QString record();          // "update_md5.info": the list of the last applied update
QString journal();         // "update_md5.info.journal": the plan of an update in progress
QString appliedSequence(); // "update_sequence.info": a signed release's Sequence, applied
QString oldSuffix();       // ".old": the previous version of a replaced file

// In the cache folder.
QString description();   // "update.ini", as fetched
QString partialFolder(); // ".~partial": transfers in progress or broken off
QString logFolder();     // ".~log": the run's log

// On the server.
QString signature();  // "update.ini.sig", beside update.ini
QString md5List();    // "md5.txt", in the version's folder
QString sha256List(); // "sha256.txt", beside md5.txt

// Addresses, by plain concatenation: `url` is system.cfg's "URL", `baseUrl` the version's
// prefix (url + folder + "/"), so the lists have two slashes before their names.
QString descriptionUrl(const QString &url);
QString signatureUrl(const QString &url);
QString md5ListUrl(const QString &baseUrl);
QString sha256ListUrl(const QString &baseUrl);

} // namespace UpdateNames
