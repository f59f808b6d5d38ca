// Fuzz target: what the launcher reads from the update server before and
// after checking it: the update list, minisign signatures (and, from the
// installation, public keys), and the signature check. Whatever the bytes,
// reading must not crash or hang, a path the rules allow must stay inside
// the installation, and nothing but the signed seed list may pass for it.

#include "minisign.h"
#include "updatelist.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>

namespace {

// A throw-away key and the list it signed (fuzz/corpus/updatelist).
const QByteArray kKey = "untrusted comment: minisign public key E863FC8F5502BCDF\n"
                        "RWTfvAJVj/xj6O68tEE35DlQav8NjR7NWy6bcvv4fPtYUu6WTaHtmNtT\n";
const QByteArray kList = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update>\n  <taviversion ver=\"2.0\"/>\n"
                         "  <file ver=\"A74EFE23109C14A6A9E55C6D83CA0F93\" "
                         "sha256=\"1f2ca9c44383375c5b61a394338708cf03648b1018691e97885bc7fde47468c0\" size=\"135\" "
                         "path=\"doc/readme.txt\"/>\n</update>\n";
const QByteArray kSignature =
    "untrusted comment: signature from minisign secret key\n"
    "RUTfvAJVj/xj6PDUq65wCzj7sh4sEpGMWsmcHmQXd68k883sozZ1E3XP9Yd2swpfHPqNW2lW8y6GlYoORXrgCeBf9+VGCcZ/mw8=\n"
    "trusted comment: fuzz seed\n"
    "YL36Ij50Gr54W8U8o9EZw1oCl0OMfn1Vxu5d4nKagWBctSrCL4YZMQ78TX5zogHKsv0mgZCjPDawV+d6JvJbAQ==\n";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const UpdateList list = readUpdateList(text);
    for (const auto &entry : list.files) {
        const QString path = QString::fromStdString(entry.first);
        if (installPathProblem(path).isEmpty() &&
            (path.startsWith(QLatin1Char('/')) || path.contains(QLatin1Char('\\')) ||
             path.split(QLatin1Char('/')).contains(QStringLiteral(".."))))
            std::abort();
        if (entry.second.size < -1)
            std::abort();
    }

    const QByteArray bytes(text.data(), int(text.size()));
    minisign::PublicKey key;
    if (minisign::readPublicKey(bytes, &key, nullptr) && (key.keyId.size() != 8 || key.key.size() != 32))
        std::abort();
    minisign::Signature signature;
    if (minisign::readSignature(bytes, &signature, nullptr) &&
        (signature.keyId.size() != 8 || signature.signature.size() != 64 || signature.globalSignature.size() != 64))
        std::abort();

    minisign::PublicKey trusted;
    if (!minisign::readPublicKey(kKey, &trusted, nullptr) || !minisign::verify(kList, kSignature, trusted, nullptr))
        std::abort();
    // Only the signed list passes with its signature...
    if (bytes != kList && minisign::verify(bytes, kSignature, trusted, nullptr))
        std::abort();
    // ...and a signature of it that passes is by the trusted key.
    if (minisign::verify(kList, bytes, trusted, nullptr) &&
        (!minisign::readSignature(bytes, &signature, nullptr) || signature.keyId != trusted.keyId))
        std::abort();
    return 0;
}
