// The unwinder's lookup of a frame's unwind tables, for the C++ runtime that
// is linked into the driver.
//
// libgcc's unwinder, built against glibc 2.35 or later, asks _dl_find_object
// for the object holding a return address; that symbol would raise the
// driver's glibc floor to 2.35. This definition, local to the driver, answers
// the same question with dl_iterate_phdr, which every glibc has. Only the
// driver's own exceptions (a thread that cannot start) come here, so its cost
// does not matter.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdint>

namespace {

struct Lookup {
	uintptr_t address;
	dl_find_object *result;
};

// dl_iterate_phdr calls this once per loaded object; 1 stops the walk.
int FindObject(dl_phdr_info *info, size_t, void *data)
{
	auto *lookup = static_cast<Lookup *>(data);
	uintptr_t start = UINTPTR_MAX;
	uintptr_t end = 0;
	bool holds_address = false;
	void *eh_frame = nullptr;
	for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
		const ElfW(Phdr) &segment = info->dlpi_phdr[i];
		const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
		if (segment.p_type == PT_LOAD) {
			start = std::min(start, begin);
			end = std::max(end, begin + segment.p_memsz);
			holds_address = holds_address || (lookup->address >= begin && lookup->address < begin + segment.p_memsz);
		} else if (segment.p_type == PT_GNU_EH_FRAME) {
			eh_frame = reinterpret_cast<void *>(begin);
		}
	}
	if (!holds_address)
		return 0;
	*lookup->result = {};
	lookup->result->dlfo_map_start = reinterpret_cast<void *>(start);
	lookup->result->dlfo_map_end = reinterpret_cast<void *>(end);
	lookup->result->dlfo_eh_frame = eh_frame;
	return 1;
}

} // namespace

extern "C" int _dl_find_object(void *address, dl_find_object *result) noexcept
{
	Lookup lookup{reinterpret_cast<uintptr_t>(address), result};
	return dl_iterate_phdr(FindObject, &lookup) != 0 ? 0 : -1;
}
