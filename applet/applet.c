/*
 * Flash-programming applet for the SAM4L (ATSAM4LC2C) in HP Voyager calculators.
 *
 * The host uploads this image to 0x20002000 through the SAM-BA monitor, fills the mailbox at
 * 0x20002040 and starts the image with the monitor's go command, which calls the entry point as an
 * ordinary function on the monitor's own stack. The applet serves the one command found in the
 * mailbox, writes the bitwise complement of the command word as the very last step and returns, so
 * that the monitor answers the host's polls again.
 *
 * Mailbox words: +0x00 command, +0x04 status, +0x08..+0x20 arguments in / results out.
 */

#include <stddef.h>
#include <stdint.h>

/* FLASHCALW registers. */
#define FLASHCALW_FCMD (*(volatile uint32_t*)0x400A0004u)
#define FLASHCALW_FSR (*(volatile uint32_t*)0x400A0008u)
#define FLASHCALW_FPR (*(volatile uint32_t*)0x400A000Cu)

#define FCMD_KEY (0xA5u << 24)
#define FCMD_WP 1u
#define FCMD_EP 2u
#define FCMD_CPB 3u
#define FCMD_UP 5u

#define FSR_FRDY 0x1u
#define FSR_LOCKE 0x4u
#define FSR_PROGE 0x8u
#define FSR_ERRORS (FSR_LOCKE | FSR_PROGE)
/* The applet's own flag among the gathered error bits: the controller never became ready. */
#define FSR_NOT_READY 0x80000000u
#define FSR_LOCK_SHIFT 16

#define CMD_INIT 0x00u
#define CMD_WRITE 0x02u
#define CMD_UNLOCK 0x05u

#define STATUS_OK 0x00u
#define STATUS_WRITE_FAILED 0x02u
#define STATUS_UNLOCK_FAILED 0x05u
#define STATUS_UNKNOWN_COMMAND 0x0Fu

#define PAGE_SIZE 512u
#define DOUBLE_WORDS_PER_PAGE (PAGE_SIZE / 8u)
#define LOCK_BITS 16u
#define BOOTLOADER_SIZE 0x4000u
#define BUFFER_SIZE PAGE_SIZE

/*
 * Upper bound on FSR reads while waiting for FRDY. A page erase or write takes a few
 * milliseconds; this allows far more than that even at the fastest core clock, and turns a
 * controller that never becomes ready into an error status instead of a hung monitor.
 */
#define READY_POLL_LIMIT 1000000u

struct mailbox {
    volatile uint32_t command;
    volatile uint32_t status;
    volatile uint32_t word[7]; /* +0x08 .. +0x20 */
};

struct geometry {
    uint32_t flash_size;
    uint32_t page_count;
    uint32_t pages_per_region;
    uint32_t region_size;
};

/* Defined by the linker script. */
extern struct mailbox applet_mailbox;
extern uint32_t applet_data_load[], applet_data_start[], applet_data_end[];
extern uint32_t applet_bss_start[], applet_bss_end[];
extern uint8_t applet_buffer[];

void applet_entry(void);
void applet_main(void);
void* memcpy(void* dst, const void* src, size_t n);
void* memset(void* dst, int c, size_t n);

/* What the monitor's go command expects at the load address: stack top and entry point. */
__attribute__((section(".header"), used)) const uint32_t applet_header[2] = {
    0x20007FF0u,
    (uint32_t)&applet_entry,
};

/* Flash size in KiB for each FPR.FSZ code; code 15 is reserved. */
static const uint16_t flash_kib_by_fsz[16] = {4,   8,   16,  32,  48,  64,   96,   128,
                                              192, 256, 384, 512, 768, 1024, 2048, 0};

/* Error bits of every FSR value read since the last reset of this variable, plus FSR_NOT_READY:
 * the controller clears LOCKE and PROGE when FSR is read or the next command starts, so each
 * read must be kept. */
static uint32_t errors_seen;

/*
 * Runs on the monitor's stack. Saves every callee-saved register, masks interrupts (the
 * controller must not be disturbed while the page buffer is half filled), aligns the stack to
 * 8 bytes for the C code and undoes all of that before returning to the monitor.
 */
__attribute__((naked, section(".text.entry"))) void applet_entry(void) {
    __asm__ volatile("push {r4-r11, lr}\n\t"
                     "mrs r5, primask\n\t"
                     "cpsid i\n\t"
                     "mov r4, sp\n\t"
                     "bic r0, r4, #7\n\t"
                     "mov sp, r0\n\t"
                     "bl applet_main\n\t"
                     "mov sp, r4\n\t"
                     "msr primask, r5\n\t"
                     "pop {r4-r11, pc}\n\t");
}

/* Kept out of loop-idiom recognition so that GCC does not turn them into calls to themselves. */
__attribute__((optimize("no-tree-loop-distribute-patterns"))) void*
memcpy(void* dst, const void* src, size_t n) {
    uint8_t* d = dst;
    const uint8_t* s = src;
    while (n--)
        *d++ = *s++;
    return dst;
}

__attribute__((optimize("no-tree-loop-distribute-patterns"))) void* memset(void* dst, int c,
                                                                           size_t n) {
    uint8_t* d = dst;
    while (n--)
        *d++ = (uint8_t)c;
    return dst;
}

static int wait_ready(void) {
    for (uint32_t polls = 0; polls < READY_POLL_LIMIT; ++polls) {
        uint32_t fsr = FLASHCALW_FSR;
        errors_seen |= fsr & FSR_ERRORS;
        if (fsr & FSR_FRDY)
            return 1;
    }
    errors_seen |= FSR_NOT_READY;
    return 0;
}

/* Issues one command once the controller is ready and waits for it to finish. Returns 0 when
 * the controller did not become ready or an error has been seen since errors_seen was reset. */
static int flash_command(uint32_t command, uint32_t page) {
    if (!wait_ready())
        return 0;
    FLASHCALW_FCMD = FCMD_KEY | ((page & 0xFFFFu) << 8) | command;
    return wait_ready() && errors_seen == 0u;
}

static struct geometry read_geometry(void) {
    struct geometry g;
    g.flash_size = (uint32_t)flash_kib_by_fsz[FLASHCALW_FPR & 0xFu] * 1024u;
    g.page_count = g.flash_size / PAGE_SIZE;
    g.pages_per_region = g.page_count / LOCK_BITS;
    g.region_size = g.flash_size / LOCK_BITS;
    return g;
}

static uint32_t cmd_init(struct mailbox* mb) {
    struct geometry g = read_geometry();
    mb->word[0] = g.flash_size;
    mb->word[1] = (uint32_t)applet_buffer;
    mb->word[2] = BUFFER_SIZE;
    mb->word[3] = (LOCK_BITS << 16) | (g.region_size & 0xFFFFu);
    mb->word[4] = PAGE_SIZE;
    mb->word[5] = g.page_count;
    mb->word[6] = BOOTLOADER_SIZE / PAGE_SIZE;
    return STATUS_OK;
}

static int range_is_writable(const struct geometry* g, uint32_t offset, uint32_t count) {
    if (offset < BOOTLOADER_SIZE || offset >= g->flash_size || count > g->flash_size - offset)
        return 0;
    uint32_t locks = FLASHCALW_FSR >> FSR_LOCK_SHIFT;
    uint32_t last = offset + count - 1u;
    for (uint32_t region = offset / g->region_size; region <= last / g->region_size; ++region) {
        if (locks & (1u << region))
            return 0;
    }
    return 1;
}

/*
 * Reprograms one page: the page buffer gets the page's current content with the bytes of
 * [start, end) taken from src instead, then the page is erased and written from the buffer. The
 * page buffer is filled by storing to the page's own flash addresses, a double word at a time.
 * Stops at the first failing command, so that a page is never erased when its new content could
 * not be prepared. Returns 0 on failure.
 */
static int program_page(uint32_t page, const uint8_t* src, uint32_t start, uint32_t end) {
    uint32_t base = page * PAGE_SIZE;
    if (!flash_command(FCMD_CPB, page))
        return 0;
    for (uint32_t dw = 0; dw < DOUBLE_WORDS_PER_PAGE; ++dw) {
        uint32_t address = base + dw * 8u;
        volatile uint32_t* flash = (volatile uint32_t*)address;
        union {
            uint32_t word[2];
            uint8_t byte[8];
        } data;
        data.word[0] = flash[0];
        data.word[1] = flash[1];
        for (uint32_t i = 0; i < 8u; ++i) {
            uint32_t at = address + i;
            if (at >= start && at < end)
                data.byte[i] = src[at - start];
        }
        flash[0] = data.word[0];
        flash[1] = data.word[1];
    }
    return flash_command(FCMD_EP, page) && flash_command(FCMD_WP, page);
}

static uint32_t cmd_write(struct mailbox* mb) {
    const uint8_t* src = (const uint8_t*)mb->word[0];
    uint32_t count = mb->word[1];
    uint32_t offset = mb->word[2];
    struct geometry g = read_geometry();

    if (count == 0u) {
        mb->word[0] = 0;
        return STATUS_OK;
    }
    if (!range_is_writable(&g, offset, count)) {
        mb->word[0] = 0;
        return STATUS_WRITE_FAILED;
    }

    uint32_t end = offset + count;
    errors_seen = 0;
    for (uint32_t page = offset / PAGE_SIZE; page <= (end - 1u) / PAGE_SIZE; ++page) {
        if (!program_page(page, src, offset, end))
            break;
    }

    mb->word[0] = count;
    return errors_seen ? STATUS_WRITE_FAILED : STATUS_OK;
}

static uint32_t cmd_unlock(struct mailbox* mb) {
    uint32_t region = mb->word[0];
    struct geometry g = read_geometry();
    if (region >= LOCK_BITS || g.pages_per_region == 0u)
        return STATUS_UNLOCK_FAILED;
    errors_seen = 0;
    flash_command(FCMD_UP, region * g.pages_per_region);
    return errors_seen ? STATUS_UNLOCK_FAILED : STATUS_OK;
}

void applet_main(void) {
    /* Every start is a fresh program: restore initialised data and clear the rest. */
    memcpy(applet_data_start, applet_data_load,
           (size_t)((uint8_t*)applet_data_end - (uint8_t*)applet_data_start));
    memset(applet_bss_start, 0, (size_t)((uint8_t*)applet_bss_end - (uint8_t*)applet_bss_start));

    struct mailbox* mb = &applet_mailbox;
    uint32_t command = mb->command;
    uint32_t status;
    switch (command) {
    case CMD_INIT:
        status = cmd_init(mb);
        break;
    case CMD_WRITE:
        status = cmd_write(mb);
        break;
    case CMD_UNLOCK:
        status = cmd_unlock(mb);
        break;
    default:
        status = STATUS_UNKNOWN_COMMAND;
        break;
    }
    mb->status = status;
    /* The host polls for this word: it must be the last thing written. */
    __asm__ volatile("dsb" ::: "memory");
    mb->command = ~command;
}
