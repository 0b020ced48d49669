// Resource: a link to help, a picture, a program or a history file.
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"

const RowTable<Resource> Resource::rows{hrows::with_base<Resource>(
    "Security (1-255)", {
                            hrows::text<Resource, &Resource::address>("URL/Name"),
                            hrows::small<Resource, &Resource::kind>("Type~Help~Picture~Program~Historical file",
                                                                    ptype::Select, 0, 3),
                        })};

bool Resource::gexec(Iparam* p) {
  p->type = ptype::Text;
  p->text = address.empty() ? nullptr : address.c_str();
  p->value = 0;
  p->ref.index = 0;
  p->count = 1;
  p->arr[0] = kind;
  return true;
}

bool Resource::gexeci(Iparam* p) {
  gexec(p);
  p->count = 0;
  return true;
}
