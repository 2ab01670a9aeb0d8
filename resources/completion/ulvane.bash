# bash completion for ulvane
_ulvane()
{
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    if [[ $prev == --set-icon ]]; then
        local styles="petroglyph knyaz-seal trypillia-ceramic scythian-gold trypillia-dark-ember
            trypillia-dark-turquoise trypillia-dark-azure-gold"
        mapfile -t COMPREPLY < <(compgen -W "$styles" -- "$cur")
        return
    fi
    mapfile -t COMPREPLY < <(compgen -W "--show --stats --set-icon --import-copyless --selftest
        --help --version" -- "$cur")
} &&
    complete -F _ulvane ulvane
