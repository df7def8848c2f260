#include "record/message.h"

#include <cerrno>

namespace Message {

std::string escaped(std::string_view text)
{
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7f) {
            out += "\\x";
            out += Hex[byte >> 4];
            out += Hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

std::string quoted(std::string_view text)
{
    constexpr std::size_t Shown = 40;
    std::string out = "«" + escaped(text.substr(0, Shown));
    if (text.size() > Shown)
        out += "…";
    return out + "»";
}

std::string systemError(int error)
{
    switch (error) {
    case ENOENT:
        return "file o cartella inesistente";
    case EACCES:
        return "permesso negato";
    case EPERM:
        return "operazione non permessa";
    case ENOSPC:
        return "spazio esaurito sul dispositivo";
    case EDQUOT:
        return "quota del disco superata";
    case EFBIG:
        return "file troppo grande";
    case EROFS:
        return "file system in sola lettura";
    case EIO:
        return "errore di input/output";
    case ENOMEM:
        return "memoria insufficiente";
    case EISDIR:
        return "è una cartella";
    case ENOTDIR:
        return "un componente del percorso non è una cartella";
    case ELOOP:
        return "troppi collegamenti simbolici";
    case ENAMETOOLONG:
        return "nome di file troppo lungo";
    case EMFILE:
    case ENFILE:
        return "troppi file aperti";
    case ETXTBSY:
        return "file in uso";
    case EINVAL:
        return "argomento non valido";
    case EBADF:
        return "descrittore di file non valido";
    case EOVERFLOW:
        return "valore troppo grande";
    case ECONNREFUSED:
        return "connessione rifiutata";
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN:
        return "connessione interrotta";
    case ETIMEDOUT:
        return "tempo scaduto";
    default:
        return "errore di sistema " + std::to_string(error);
    }
}

} // namespace Message
