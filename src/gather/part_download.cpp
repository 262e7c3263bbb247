#include "gather/part_download.h"

#include "http/http_client.h"

PartDownload::PartDownload(const QString& partPath) : file(partPath) {}

PartDownload::~PartDownload() { release(); }

int PartDownload::row() const { return client ? static_cast<int>(client->Tag()) - 1 : -1; }

void PartDownload::release() {
    delete client;
    client = nullptr;
    slot.reset();
    file.close();
}
