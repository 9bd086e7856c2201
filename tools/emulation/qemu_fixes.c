/*
 * Three fixes for 32-bit Wine under qemu-user (qemu-i386 7.2), preloaded
 * into every i386 process that tools/emulation/run starts:
 *
 * 1. mmap with MAP_FIXED_NOREPLACE: qemu takes the address as a hint and
 *    maps elsewhere when it is taken. Wine reserves its address space by
 *    asking for ranges that way and halving them until they fit, so every
 *    process start cost tens of thousands of mmap/munmap pairs. A mapping
 *    that did not land where asked is undone and fails with EEXIST, as the
 *    kernel answers.
 *
 * 2. Signal frames carry trapno -1, so Wine takes every page fault for an
 *    unknown trap (an illegal instruction): no access violations, no stack
 *    guard pages. The handlers of the fault signals are called through a
 *    trampoline that puts back the trap number the signal stands for.
 *
 * 3. qemu keeps one table of TLS segment entries (set_thread_area) for all
 *    threads, and a segment register loaded again from its selector (Wine
 *    does in its signal handlers, qemu on every return from a signal) gets
 *    the base of the thread that wrote the entry last. Each thread gets a
 *    private LDT entry (the LDT holds its entries by index, not by thread)
 *    with the base of its own %gs, and loads %gs from it: 511 of them, for the
 *    first 511 threads alive at once; a thread beyond keeps the shared entry
 *    and one line on stderr says so. Wine's own %fs (the TEB) goes the same
 *    way: the process's request for a shared entry is refused, and Wine then
 *    gives each thread an LDT entry of its own.
 *
 * Nothing here is needed, or loaded, where the kernel runs 32-bit programs.
 */
#define _GNU_SOURCE
#include <asm/ldt.h>
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

typedef void *(*mmap_fn)(void *, size_t, int, int, int, off_t);
typedef void *(*mmap64_fn)(void *, size_t, int, int, int, off64_t);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);
typedef int (*pthread_create_fn)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
typedef long (*syscall_fn)(long, ...);
typedef void (*info_handler)(int, siginfo_t *, void *);

static mmap_fn next_mmap;
static mmap64_fn next_mmap64;
static sigaction_fn next_sigaction;
static pthread_create_fn next_pthread_create;
static syscall_fn next_syscall;

static void say(const char *text)
{
    ssize_t unused = write(2, text, strlen(text));
    (void)unused;
}

/* ---- 1. MAP_FIXED_NOREPLACE ------------------------------------------ */

static void *as_the_kernel_answers(void *wanted, size_t length, int flags, void *got)
{
    if (got == MAP_FAILED || !(flags & MAP_FIXED_NOREPLACE) || (flags & MAP_FIXED) || got == wanted)
        return got;
    munmap(got, length);
    errno = EEXIST;
    return MAP_FAILED;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    return as_the_kernel_answers(address, length, flags, next_mmap(address, length, protection, flags, fd, offset));
}

void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset)
{
    return as_the_kernel_answers(address, length, flags, next_mmap64(address, length, protection, flags, fd, offset));
}

/* ---- 2. Trap numbers ------------------------------------------------- */

/* The processor's exception numbers, as the kernel puts them in a frame. */
enum {
    TRAP_DIVIDE = 0,
    TRAP_DEBUG = 1,
    TRAP_BREAKPOINT = 3,
    TRAP_OVERFLOW = 4,
    TRAP_INVALID_OPCODE = 6,
    TRAP_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14,
    TRAP_FLOATING_POINT = 16,
    TRAP_ALIGNMENT = 17
};

static info_handler handlers[NSIG];

static int is_fault_signal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

static int trap_number(int sig, const siginfo_t *info)
{
    switch (sig) {
    case SIGSEGV: return info->si_code == SI_KERNEL ? TRAP_PROTECTION : TRAP_PAGE_FAULT;
    case SIGBUS: return info->si_code == BUS_ADRALN ? TRAP_ALIGNMENT : TRAP_PAGE_FAULT;
    case SIGILL: return TRAP_INVALID_OPCODE;
    case SIGFPE:
        if (info->si_code == FPE_INTDIV) return TRAP_DIVIDE;
        return info->si_code == FPE_INTOVF ? TRAP_OVERFLOW : TRAP_FLOATING_POINT;
    default: return info->si_code == TRAP_TRACE ? TRAP_DEBUG : TRAP_BREAKPOINT;
    }
}

/* Runs on the signal stack of whatever code faulted, Wine's or Windows':
 * no thread-local storage, no errno. */
static void with_trap_number(int sig, siginfo_t *info, void *context)
{
    ucontext_t *frame = context;
    /* A signal sent by a process (si_code 0 or below) has no trap. */
    if (info->si_code > 0 && frame->uc_mcontext.gregs[REG_TRAPNO] == -1)
        frame->uc_mcontext.gregs[REG_TRAPNO] = trap_number(sig, info);
    handlers[sig](sig, info, context);
}

int sigaction(int sig, const struct sigaction *action, struct sigaction *old)
{
    struct sigaction mine, previous;
    info_handler wanted = NULL;
    int status;
    if (sig <= 0 || sig >= NSIG || !is_fault_signal(sig)) return next_sigaction(sig, action, old);
    if (action) {
        mine = *action;
        if ((action->sa_flags & SA_SIGINFO) && action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN) {
            wanted = action->sa_sigaction;
            mine.sa_sigaction = with_trap_number;
        }
    }
    /* The handler is in place before the trampoline can be entered. */
    info_handler before = handlers[sig];
    if (wanted) __atomic_store_n(&handlers[sig], wanted, __ATOMIC_SEQ_CST);
    status = next_sigaction(sig, action ? &mine : NULL, &previous);
    if (status != 0) {
        handlers[sig] = before;
        return status;
    }
    if (old) {
        *old = previous;
        if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction == with_trap_number)
            old->sa_sigaction = before;
    }
    return 0;
}

/* ---- 3. A private TLS segment for each thread ------------------------ */

enum {
    /* Below Wine's own entries, which start at 512 when the first thread's
     * %gs is in the LDT (and at 32 otherwise, when none of these is used). */
    FIRST_PRIVATE_ENTRY = 1,
    PRIVATE_ENTRIES = 511
};

static pid_t entry_owner[PRIVATE_ENTRIES];
static pthread_mutex_t entries_lock = PTHREAD_MUTEX_INITIALIZER;
static int told_of_too_many;

static pid_t this_thread(void)
{
    return (pid_t)next_syscall(SYS_gettid);
}

static int thread_alive(pid_t thread)
{
    return next_syscall(SYS_tgkill, (long)getpid(), (long)thread, 0L) == 0 || errno != ESRCH;
}

static int take_entry(pid_t self)
{
    int taken = -1;
    pthread_mutex_lock(&entries_lock);
    for (int i = 0; i < PRIVATE_ENTRIES && taken < 0; ++i)
        if (entry_owner[i] == 0 || !thread_alive(entry_owner[i])) {
            entry_owner[i] = self;
            taken = i;
        }
    if (taken < 0 && !told_of_too_many) {
        told_of_too_many = 1;
        say("qemu-fixes: more than 511 threads at once; the others keep the shared TLS segment\n");
    }
    pthread_mutex_unlock(&entries_lock);
    return taken;
}

static unsigned long gs_base(void)
{
    unsigned long base;
    /* glibc's thread control block starts with its own address. */
    __asm__ volatile("movl %%gs:0,%0" : "=r"(base));
    return base;
}

static void load_gs(unsigned short selector)
{
    __asm__ volatile("movw %0,%%gs" : : "r"(selector) : "memory");
}

static unsigned short gs_selector(void)
{
    unsigned short selector;
    __asm__ volatile("movw %%gs,%0" : "=r"(selector));
    return selector;
}

/* The GDT selector that glibc set up for the first thread. */
static unsigned short shared_gs;

static void describe_tls_entry(struct user_desc *entry, unsigned number, unsigned long base)
{
    memset(entry, 0, sizeof *entry);
    entry->entry_number = number;
    entry->base_addr = base;
    entry->limit = 0xfffff;
    entry->seg_32bit = 1;
    entry->limit_in_pages = 1;
    entry->useable = 1;
}

static void take_private_tls_segment(void)
{
    pid_t self = this_thread();
    int slot = take_entry(self);
    if (slot < 0) return;
    struct user_desc entry;
    describe_tls_entry(&entry, FIRST_PRIVATE_ENTRY + slot, gs_base());
    if (next_syscall(SYS_modify_ldt, 0x11L, &entry, (long)sizeof entry) != 0) {
        entry_owner[slot] = 0;
        say("qemu-fixes: modify_ldt failed; this thread keeps the shared TLS segment\n");
        return;
    }
    load_gs((unsigned short)((entry.entry_number << 3) | 7)); /* LDT, ring 3 */
}

struct thread_start {
    void *(*routine)(void *);
    void *argument;
};

static void *start_with_private_segment(void *data)
{
    struct thread_start start = *(struct thread_start *)data;
    free(data);
    take_private_tls_segment();
    return start.routine(start.argument);
}

/* glibc gives a new thread the TLS entry that the creator's %gs names, so
 * the creator names the shared one while it creates: written with its own
 * base first, and with no signal (whose return would load %gs again) and no
 * other creator in between. */
static pthread_mutex_t creation_lock = PTHREAD_MUTEX_INITIALIZER;

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *), void *argument)
{
    struct thread_start *start = malloc(sizeof *start);
    if (!start) return EAGAIN;
    start->routine = routine;
    start->argument = argument;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_mutex_lock(&creation_lock);
    unsigned short own = gs_selector();
    if (own != shared_gs) {
        struct user_desc entry;
        describe_tls_entry(&entry, shared_gs >> 3, gs_base());
        next_syscall(SYS_set_thread_area, &entry);
        load_gs(shared_gs);
    }
    int status = next_pthread_create(thread, attributes, start_with_private_segment, start);
    load_gs(own);
    pthread_mutex_unlock(&creation_lock);
    pthread_sigmask(SIG_SETMASK, &before, NULL);
    if (status != 0) free(start);
    return status;
}

/* Wine asks for a shared GDT entry (entry_number -1) for %fs once per
 * process; refused, it gives each thread an LDT entry of its own. */
long syscall(long number, ...)
{
    va_list arguments;
    long a[6];
    va_start(arguments, number);
    for (int i = 0; i < 6; ++i) a[i] = va_arg(arguments, long);
    va_end(arguments);
    if (number == SYS_set_thread_area && a[0] && ((struct user_desc *)a[0])->entry_number == (unsigned)-1) {
        errno = ENOSYS;
        return -1;
    }
    return next_syscall(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

__attribute__((constructor)) static void start_fixes(void)
{
    next_mmap = (mmap_fn)dlsym(RTLD_NEXT, "mmap");
    next_mmap64 = (mmap64_fn)dlsym(RTLD_NEXT, "mmap64");
    next_sigaction = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    next_pthread_create = (pthread_create_fn)dlsym(RTLD_NEXT, "pthread_create");
    next_syscall = (syscall_fn)dlsym(RTLD_NEXT, "syscall");
    if (!next_mmap || !next_mmap64 || !next_sigaction || !next_pthread_create || !next_syscall) {
        say("qemu-fixes: cannot find the C library's functions\n");
        abort();
    }
    shared_gs = gs_selector();
    /* A %fs taken by Wine's preloader would be a shared entry too. */
    __asm__ volatile("movw %w0,%%fs" : : "r"(0));
    take_private_tls_segment();
}
