/* Built with 64-bit time, so that ioctl here goes through __ioctl_time64 as
 * it does in Wine's 32-bit unix side. */
#include <sys/ioctl.h>

int ioctl_as_wine(int fd, unsigned long request, void *arg)
{
    return ioctl(fd, request, arg);
}
