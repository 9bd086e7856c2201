/*
 * What a 32-bit process may rely on, as the kernel gives it and as 32-bit
 * Wine relies on it; under qemu-user only with the qemu fixes preloaded:
 *   - MAP_FIXED_NOREPLACE over a taken range fails with EEXIST;
 *   - a fault's signal frame names its trap;
 *   - a thread's TLS survives its signals while other threads start.
 *   qemu_fixes_test [THREADS]    THREADS default 8
 * Prints one line per check and exits 1 when any failed.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

static int failures;

static void check(int holds, const char *what)
{
    printf("%s: %s\n", holds ? "ok" : "FAILED", what);
    if (!holds) ++failures;
}

static void map_fixed_noreplace(void)
{
    const size_t size = 1 << 16;
    void *taken = mmap(NULL, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    errno = 0;
    void *again = mmap(taken, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    check(again == MAP_FAILED && errno == EEXIST, "MAP_FIXED_NOREPLACE over a taken range fails with EEXIST");
    if (again != MAP_FAILED) munmap(again, size);
    munmap(taken, size);
    void *free_range = mmap(taken, size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    check(free_range == taken, "MAP_FIXED_NOREPLACE over a free range maps it there");
    if (free_range != MAP_FAILED) munmap(free_range, size);
}

static sigjmp_buf after_fault;
static volatile int trap_seen;

static void on_fault(int sig, siginfo_t *info, void *context)
{
    (void)sig;
    (void)info;
    trap_seen = ((ucontext_t *)context)->uc_mcontext.gregs[REG_TRAPNO];
    siglongjmp(after_fault, 1);
}

static volatile int zero;
static void read_address_zero(void) { (void)*(volatile int *)(long)zero; }
static void write_read_only_page(void)
{
    static const int constant = 1;
    *(volatile int *)&constant = 2;
}
static void invalid_opcode(void) { __asm__ volatile("ud2"); }
static void breakpoint(void) { __asm__ volatile("int3"); }
static void divide_by_zero(void)
{
    volatile int n = 1;
    n = n / zero;
}

static void trap_numbers(void)
{
    static const struct {
        const char *what;
        int sig;
        void (*fault)(void);
        int trap;
    } cases[] = {
        {"a read of address 0 is a page fault (trap 14)", SIGSEGV, read_address_zero, 14},
        {"a write to a read-only page is a page fault (trap 14)", SIGSEGV, write_read_only_page, 14},
        {"ud2 is an invalid opcode (trap 6)", SIGILL, invalid_opcode, 6},
        {"int3 is a breakpoint (trap 3)", SIGTRAP, breakpoint, 3},
        {"a division by zero is a divide error (trap 0)", SIGFPE, divide_by_zero, 0},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        struct sigaction action;
        memset(&action, 0, sizeof action);
        action.sa_sigaction = on_fault;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigaction(cases[i].sig, &action, NULL);
        trap_seen = -2;
        if (sigsetjmp(after_fault, 1) == 0) cases[i].fault();
        char what[160];
        snprintf(what, sizeof what, "%s; the frame said %d", cases[i].what, trap_seen);
        check(trap_seen == cases[i].trap, what);
        signal(cases[i].sig, SIG_DFL);
    }
}

/* Every thread keeps its own number in TLS, signals itself over and over
 * (the handler loads %gs again, as Wine's handlers do, and the return from
 * the signal loads it once more) while the others are being started, and
 * then finds its own number still there. */
static __thread int own_number;
static pthread_barrier_t all_started;
static int mixed_up;

static void reload_gs(int sig)
{
    (void)sig;
    __asm__ volatile("movw %%gs,%%ax\n\tmovw %%ax,%%gs" : : : "eax", "memory");
}

static void *keep_own_number(void *number)
{
    own_number = (int)(long)number;
    pthread_t self = pthread_self();
    for (int round = 0; round < 400; ++round) {
        if (round == 200) pthread_barrier_wait(&all_started);
        pthread_kill(self, SIGUSR1);
        if (own_number != (int)(long)number || !pthread_equal(pthread_self(), self)) {
            __atomic_add_fetch(&mixed_up, 1, __ATOMIC_SEQ_CST);
            break;
        }
    }
    return NULL;
}

static void thread_storage(int threads)
{
    signal(SIGUSR1, reload_gs);
    pthread_t *started = calloc((size_t)threads, sizeof *started);
    pthread_barrier_init(&all_started, NULL, (unsigned)threads);
    for (int i = 0; i < threads; ++i) pthread_create(&started[i], NULL, keep_own_number, (void *)(long)(i + 1));
    for (int i = 0; i < threads; ++i) pthread_join(started[i], NULL);
    char what[160];
    snprintf(what, sizeof what, "%d threads keep their own TLS through their signals; %d found another's", threads,
             mixed_up);
    check(mixed_up == 0, what);
    free(started);
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IOLBF, 0);
    map_fixed_noreplace();
    trap_numbers();
    thread_storage(argc > 1 ? atoi(argv[1]) : 8);
    return failures ? 1 : 0;
}
