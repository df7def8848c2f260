#include "record/mappedfile.h"

#include <sys/mman.h>

MappedFile::~MappedFile()
{
    unmap();
}

void MappedFile::unmap()
{
    if (m_data)
        ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
}

bool MappedFile::map(int fd, std::size_t size)
{
    unmap();
    if (size == 0)
        return true;
    void *data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (data == MAP_FAILED)
        return false;
    m_data = data;
    m_size = size;
    return true;
}
