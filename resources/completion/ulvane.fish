complete -c ulvane -f
complete -c ulvane -s h -l help -d 'Print a short usage and exit'
complete -c ulvane -l version -d 'Print the version and exit'
complete -c ulvane -l show -d 'Open the picker of the running Ulvane'
complete -c ulvane -l stats -d 'Print the number of clips and the size of the history'
complete -c ulvane -l set-icon -x -d 'Choose the application icon style' -a 'petroglyph knyaz-seal trypillia-ceramic scythian-gold trypillia-dark-ember trypillia-dark-turquoise trypillia-dark-azure-gold'
complete -c ulvane -l import-copyless -d 'Take over the history of CopyLess 2'
complete -c ulvane -l selftest -d 'Run the built-in checks on throw-away stores'
