# What pefile, a reader independent of the project, sees in an image: the
# headers, sections, resources and signature, one line each.
import sys, pefile
pe = pefile.PE(sys.argv[1])
print("machine", hex(pe.FILE_HEADER.Machine), "magic", hex(pe.OPTIONAL_HEADER.Magic))
for s in pe.sections:
    print("section", s.Name.rstrip(b"\0").decode(), hex(s.VirtualAddress), hex(s.Misc_VirtualSize), hex(s.PointerToRawData), hex(s.SizeOfRawData))
def idof(e):
    return str(e.name) if e.name is not None else "#%d" % e.id
if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                d = l.data.struct
                print("resource", idof(t), idof(n), hex(l.id), hex(d.CodePage), pe.get_data(d.OffsetToData, d.Size).hex())
sec = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
print("signature", hex(sec.VirtualAddress), hex(sec.Size))
