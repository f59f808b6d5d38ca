#pragma once

class QNetworkAccessManager;

// Qt's bearer check calls the network "not accessible" when only loopback
// is up and then refuses every request, even to a reachable local server;
// each manager of the client is told the network is there.
void keepNetworkAccessible(QNetworkAccessManager *manager);
