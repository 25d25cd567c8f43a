# groff has no Portuguese hyphenation patterns, and its English ones split
# Portuguese words wrongly ("planil-has"): no hyphenation in the pages. HY is
# what newer man macros apply again at .TH; .nh covers the older ones.
/^\.TH /i .nr HY 0
/^\.TH /a .nh
